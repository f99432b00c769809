#pragma once

#include <QCursor>
#include <QElapsedTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "app/errorreport.h"
#include "app/formlayout.h"

class Clipboard;
class LookupRun;
class CommandRunner;
class DesktopOpener;
class Dialogs;
class ListViewModel;
class RdapBootstrapStore;
class ResultsTable;
class SettingsStore;
class SpreadsheetApp;
class QAbstractItemView;
class QGroupBox;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class StoreMemory;
class QTableView;
class QTimer;
class QTreeView;
enum class SourceKind;

// The platform facilities the window works through.
struct Services
{
    Dialogs &dialogs;
    SettingsStore &settings;
    Clipboard &clipboard;
    DesktopOpener &desktop;
    SpreadsheetApp &spreadsheet;
    CommandRunner &commands;
};

struct StartOptions
{
    // The folder looked in for "HAND-M.CUR" and "x/o.cjs".
    QString programDir;
    bool homePageAllowed = true;
    // Draws a whole number from 1 to 100; the home page opens when it is 7.
    std::function<int()> drawHomePageNumber;
    // The answer store; empty: $XDG_DATA_HOME/Quorvane/answers.sqlite.
    QString storePath;
};

// The main window. Handlers are named after control and event; each one that can fail in
// unexpected ways runs its numbered statements under the common error report.
class Form1 : public QWidget
{
    Q_OBJECT

public:
    enum Pointer
    {
        Arrow = 0,
        Hourglass = 11,
        Custom = 99
    };

    static inline const QString HomePage = QStringLiteral("https://www.ferrowick.com/quorvane/");
    static inline const QString ListToolTip = QStringLiteral(
        "Double-click item to remove it. Move | line to right and out of window to reveal full "
        "names.");

    // How old, in hours, an answer from the store may be and still be given instead of asking.
    static inline const QString ReuseHoursKey = QStringLiteral("ReuseHours");
    // The window's size, "WIDTHxHEIGHT", kept from one start to the next.
    static inline const QString WindowSizeKey = QStringLiteral("WindowSize");
    // The chosen source, by the name the command line gives it ("site2", "whois", "auto"), kept
    // from one start to the next.
    static inline const QString SourceKey = QStringLiteral("Source");
    // Whether port-43 and RDAP results keep their notice lines as fields: "1" or "0".
    static inline const QString KeepNoticesKey = QStringLiteral("KeepNotices");
    // The size it opens at the first time, and its minimum.
    static QSize designedSize();

    Form1(Services services, StartOptions options, QWidget *parent = nullptr);
    ~Form1() override;

    void Form_Load();
    void Form_QueryUnload();
    void centerOnScreen();

    int pointer() const { return m_pointer; }
    bool isBusy() const { return m_pointer == Hourglass; }
    // Long operations bracket their work with these; the hourglass shows until the last ends.
    void beginBusy();
    void endBusy();

    QString appTitle() const { return m_appTitle; }
    ListViewModel &addressList() { return *m_addresses; }
    ResultsTable &results() { return *m_results; }
    bool hasHandCursor() const { return m_hasHandCursor; }
    // True from the start of a lookup run until it has ended.
    bool isRunning() const { return m_run != nullptr; }
    bool StopRequested() const { return m_stopRequested; }
    LookupRun *currentRun() const { return m_run; }
    // Shown by the spreadsheet export; true when a spreadsheet application is there.
    bool SaveResultsAsExcelFileIsExcelInstalled();

public slots:
    void PushButton1_Click();
    void PushButton5_Click();
    void PushButton11_Click();
    void PushButton9_Click();
    void ListView1_DblClick();
    void ListView1_KeyDown(int keyCode);
    void ListView2_DblClick();
    void ListView2_KeyDown(int keyCode);
    void Text1_Change();

    // Settings written when an edit or a burst of changes ends (form1_settings.cpp).
    void Text1_LostFocus();
    void SaveTimer_Timer();

    // Address list files (form1_listfiles.cpp).
    void PushButton3_Click();

    // Lookup run and delay (form1_lookup.cpp).
    void PushButton4_Click();
    void PushButton7_Click();

    // Exports (form1_exports.cpp).
    void PushButton6_Click();
    void PushButton2_Click();
    void PushButton18_Click();
    // Where the next "Save Results To Text File" dialog opens: the folder last saved to, at
    // first the user's documents folder.
    QString saveFolder() const;

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    void buildControls();
    // Puts a control at its designed place (in twips) and remembers how it grows.
    void place(QWidget *w, int left, int top, int width, int height,
               const FormLayout::Growth &growth);
    void restoreWindowSize();
    void saveWindowSize();
    void restoreKeepNotices();
    void CheckKeepNotices_Click(bool checked);
    // Each wires the buttons of its own file.
    void connectListFileControls();
    void connectLookupControls();
    void connectExportControls();
    QPushButton *button(const char *name) const;
    void runFinished();
    void endRunAttempt();
    // The source option buttons and the source each stands for.
    QList<std::pair<QRadioButton *, SourceKind>> sourceOptions() const;
    std::optional<SourceKind> chosenSource() const;
    // Back to the plain caption once the results or the list change after a run.
    void dropRunCaption();
    void applySkin();
    void loadHandCursor(const QString &path);
    void setPointer(int value);
    void pointerOverBackground();
    void pointerOverButton();
    void message(const QString &text);
    void appendAddress(const QString &text);
    // The list is saved once a burst of changes has ended: this (re)starts the save timer.
    void saveAddressList();
    void storeDelayText();
    // The answer store the runs read and keep answers in, opened at the first run; its trouble
    // is said once.
    StoreMemory *answerStore();
    bool anyResultChecked() const;
    template <class Model>
    void removeSelected(QAbstractItemView *view, Model &model, const QString &location);
    void commitDelayText();
    void storeSettingsBeforeClose();
    void connectSettingsControls();
    void restoreSource();
    void storeSource();
    void sourceChosen();

    Services m_services;
    StartOptions m_options;
    ErrorReporter m_errors;
    QString m_appTitle = QStringLiteral("Quorvane");

    ListViewModel *m_addresses;
    ResultsTable *m_results;

    QTableView *m_listView1 = nullptr;
    QTreeView *m_listView2 = nullptr;
    QGroupBox *m_frame1 = nullptr;
    QGroupBox *m_frame2 = nullptr;
    QRadioButton *m_option1 = nullptr;
    QRadioButton *m_option2 = nullptr;
    QRadioButton *m_option3 = nullptr;
    QRadioButton *m_option4 = nullptr;
    QRadioButton *m_option5 = nullptr;
    QCheckBox *m_checkKeepNotices = nullptr;
    QLineEdit *m_text1 = nullptr;
    QSpinBox *m_reuseHours = nullptr;
    StoreMemory *m_store = nullptr;
    QList<QPushButton *> m_buttons;

    struct Placed
    {
        QWidget *widget;
        QRect designed;
        FormLayout::Growth growth;
    };
    QList<Placed> m_layout;

    int m_pointer = Arrow;
    int m_busyDepth = 0;
    QCursor m_handCursor;
    bool m_hasHandCursor = false;
    LookupRun *m_run = nullptr;
    // The RDAP bootstrap files, kept for the window's life: fetched by the first run that
    // needs them (which waits for them), used by every run after.
    RdapBootstrapStore *m_rdapBootstrap = nullptr;
    // The start button's caption when the last run attempt began; a stop puts it back.
    QString m_savedStartCaption;
    bool m_stopRequested = false;
    QString m_saveFolder;

public:
    // A burst of changes to the address list is saved once it has been quiet this long, and
    // never later than the second bound after the burst's first change.
    static constexpr int ListSaveQuietMs = 300;
    static constexpr int ListSaveLatestMs = 1000;

private:
    QTimer *m_saveTimer = nullptr;
    QElapsedTimer m_listUnsavedSince;
    // Text1 was edited since its text was last stored.
    bool m_delayEdited = false;
    // Another source was chosen since the choice was last stored.
    bool m_sourceChosen = false;
    // The caption shows a run's counts.
    bool m_runCaptionShown = false;
};
