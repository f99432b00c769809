#include "app/form1.h"

#include "addresses/addresslist.h"
#include "addresses/listviewmodel.h"
#include "app/apptitle.h"
#include "app/formlayout.h"
#include "app/resultcolumns.h"
#include "app/statustint.h"
#include "platform/desktop.h"
#include "platform/dialogs.h"
#include "platform/fileexists.h"
#include "platform/runtimeerror.h"
#include "platform/settingsstore.h"
#include "results/resultstable.h"
#include "shell/checkonline.h"
#include "web/sites.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QScreen>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTableView>
#include <QTreeView>

namespace {

// Positions and sizes are given in twips; 15 twips make one pixel at 96 dpi.
int px(int twips)
{
    return (twips + 7) / 15;
}

QRect pixels(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

// The window's designed client area; it opens at this size and is never made smaller. The row
// of the reuse spin box, under the delay box, made it 450 twips (30 pixels) taller.
const QSize DesignedSize(px(8040), px(8925));

QFont arialBold(int pixelSize)
{
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(pixelSize);
    font.setBold(true);
    return font;
}

// The window and the frames fill their background with the colour. Option buttons and check
// boxes take it as their colours but fill nothing: the frame's own panel shows behind their
// labels, with no box of another shade around each.
void setBackground(QWidget *w, const QColor &colour)
{
    QPalette palette = w->palette();
    palette.setColor(QPalette::Window, colour);
    const bool label = qobject_cast<QAbstractButton *>(w) != nullptr;
    if (label)
        palette.setColor(QPalette::Button, colour);
    w->setPalette(palette);
    w->setAutoFillBackground(!label);
}

void setWhite(QWidget *w)
{
    setBackground(w, Qt::white);
}

// The application's icon, every size rendered from its one drawing and embedded.
QIcon applicationIcon()
{
    QIcon icon;
    const QString folder = QStringLiteral(":/icons");
    for (const QString &size : QDir(folder).entryList(QDir::Dirs))
        icon.addFile(folder + QLatin1Char('/') + size +
                     QStringLiteral("/apps/" QUORVANE_APP_ID ".png"));
    return icon;
}

// What the two lists share: one row selected at a time, no editing, no sorting, columns sized
// by the model's header widths.
template <class Model>
void setUpList(QAbstractItemView *view, QHeaderView *header, const QString &name, Model *model)
{
    view->setObjectName(name);
    view->setModel(model);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    header->setStretchLastSection(false);
    header->setSectionsMovable(false);
    view->setToolTip(Form1::ListToolTip);
    QObject::connect(model, &Model::headerWidthChanged, view, [header](int k, int twips) {
        if (twips != Model::DefaultWidth)
            header->resizeSection(k - 1, px(twips));
    });
}

// The results: a tree view of flat rows, whose first column carries the check boxes.
template <class Model> QTreeView *makeList(QWidget *parent, const QString &name, Model *model)
{
    auto *view = new QTreeView(parent);
    setUpList(view, view->header(), name, model);
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setUniformRowHeights(true);
    view->setAllColumnsShowFocus(true);
    view->setSortingEnabled(false);
    return view;
}

// The address list, which may hold millions of entries: a table view, which keeps a few bytes
// per row and takes new rows in time independent of the rows it has, where a tree view keeps
// about 40 bytes per row and lays out every row again each time rows are added. Set up to look
// and behave as the tree view does: rows as high as its, no grid, no row numbers, Tab leaves it.
QTableView *makeAddressList(QWidget *parent, const QString &name, ListViewModel *model)
{
    auto *view = new QTableView(parent);
    setUpList(view, view->horizontalHeader(), name, model);
    view->setShowGrid(false);
    view->setWordWrap(false);
    view->setTabKeyNavigation(false);
    view->setCornerButtonEnabled(false);
    view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    QHeaderView *header = view->horizontalHeader();
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QHeaderView *rows = view->verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(1);
    // The row height a tree view in this font gives its rows, taken from one sample row.
    QStandardItemModel sample(1, 1);
    sample.setItem(0, 0, new QStandardItem(QStringLiteral("Xy")));
    QTreeView probe;
    probe.setFont(parent->font());
    probe.setModel(&sample);
    rows->setDefaultSectionSize(probe.sizeHintForRow(0));
    return view;
}

int selectedIndex(QAbstractItemView *view)
{
    const QModelIndexList rows = view->selectionModel()->selectedRows();
    return rows.isEmpty() ? 0 : rows.first().row() + 1;
}

} // namespace

Form1::Form1(Services services, StartOptions options, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
      m_services(services), m_options(std::move(options)), m_errors(services.dialogs),
      m_addresses(new ListViewModel(false, this)), m_results(new ResultsTable(this))
{
    setObjectName(QStringLiteral("Form1"));
    // The window's definition carries the form name; start-up sets the real caption.
    setWindowTitle(QStringLiteral("Form1"));
    setMinimumSize(DesignedSize);
    resize(DesignedSize);
    setFont(arialBold(12));
    setWhite(this);
    setMouseTracking(true);
    buildControls();
    connectSettingsControls();
}

Form1::~Form1() = default;

QSize Form1::designedSize()
{
    return DesignedSize;
}

void Form1::place(QWidget *w, int left, int top, int width, int height,
                  const FormLayout::Growth &growth)
{
    const QRect designed = pixels(left, top, width, height);
    w->setGeometry(designed);
    m_layout.append({w, designed, growth});
}

void Form1::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    for (const Placed &p : std::as_const(m_layout))
        p.widget->setGeometry(FormLayout::grown(p.designed, p.growth, DesignedSize, size()));
}

void Form1::buildControls()
{
    // The extra width of a larger window goes to both lists, both frames, the delay box and
    // each row of buttons (half to each button of a pair); the extra height to the results.
    const FormLayout::Growth wide{0, 1, 0, 0};
    const FormLayout::Growth leftHalf{0, 0.5, 0, 0};
    const FormLayout::Growth rightHalf{0.5, 0.5, 0, 0};
    const FormLayout::Growth bottomLeftHalf{0, 0.5, 1, 0};
    const FormLayout::Growth bottomRightHalf{0.5, 0.5, 1, 0};

    m_listView1 = makeAddressList(this, QStringLiteral("ListView1"), m_addresses);
    m_listView1->setAccessibleName(QStringLiteral("Address list"));
    place(m_listView1, 120, 120, 7800, 1575, wide);

    const QFont buttonFont = arialBold(15);
    auto button = [&](const QString &name, const QString &caption, QWidget *parent, int l, int t,
                      int w, int h, const FormLayout::Growth &growth) {
        auto *b = new QPushButton(caption, parent);
        b->setObjectName(name);
        b->setFont(buttonFont);
        // Enter and Return press the focused button through the event filter instead, so the
        // buttons keep their look.
        b->setAutoDefault(false);
        place(b, l, t, w, h, growth);
        b->setMouseTracking(true);
        // The move stays with the button, so the frame or window behind it does not take it.
        b->setAttribute(Qt::WA_NoMousePropagation);
        b->installEventFilter(this);
        m_buttons.append(b);
        return b;
    };

    auto *pb5 = button(QStringLiteral("PushButton5"), QStringLiteral("Add Domain/IP Address"), this,
                       120, 1800, 3840, 405, leftHalf);
    button(QStringLiteral("PushButton3"), QStringLiteral("Load List From Text File"), this, 4080,
           1800, 3840, 405, rightHalf);
    auto *pb11 = button(QStringLiteral("PushButton11"), QStringLiteral("Clear List"), this, 120,
                        2310, 3840, 405, leftHalf);
    auto *pb1 =
        button(QStringLiteral("PushButton1"), QStringLiteral("Load Sample/Example Addresses"), this,
               4080, 2310, 3840, 405, rightHalf);

    m_frame1 = new QGroupBox(QStringLiteral("Sites"), this);
    m_frame1->setObjectName(QStringLiteral("Frame1"));
    place(m_frame1, 120, 2800, 7800, 1420, wide);
    setWhite(m_frame1);

    auto option = [&](const QString &name, Site site, int l, int t, int w, int h) {
        auto *o = new QRadioButton(Sites::host(site), m_frame1);
        o->setObjectName(name);
        place(o, l, t, w, h, {});
        setWhite(o);
        // Moving over an option button leaves the pointer as it is.
        o->setAttribute(Qt::WA_NoMousePropagation);
        return o;
    };
    m_option2 = option(QStringLiteral("Option2"), Site::Option2, 240, 300, 2355, 285);
    m_option1 = option(QStringLiteral("Option1"), Site::Option1, 240, 650, 2040, 285);
    m_option3 = option(QStringLiteral("Option3"), Site::Option3, 240, 1000, 1635, 285);
    m_option2->setChecked(true);
    // The registries' own services, in the frame's right half.
    auto registryOption = [&](const QString &name, const QString &caption, int t) {
        auto *o = new QRadioButton(caption, m_frame1);
        o->setObjectName(name);
        place(o, 4080, t, 3480, 285, {});
        setWhite(o);
        o->setAttribute(Qt::WA_NoMousePropagation);
        return o;
    };
    m_option4 = registryOption(QStringLiteral("Option4"), QStringLiteral("WHOIS (port 43)"), 300);
    m_option5 = registryOption(QStringLiteral("Option5"), QStringLiteral("RDAP, else WHOIS"), 650);
    // Below the registries' options, in the frame's free corner: whether their results keep
    // the notice lines (terms of use, disclaimers) as fields.
    m_checkKeepNotices = new QCheckBox(QStringLiteral("Keep notices"), m_frame1);
    m_checkKeepNotices->setObjectName(QStringLiteral("CheckKeepNotices"));
    m_checkKeepNotices->setToolTip(
        QStringLiteral("WHOIS (port 43) and RDAP: keep terms of use, disclaimers and other "
                       "notice lines as columns of the results"));
    place(m_checkKeepNotices, 4080, 1000, 3480, 285, {});
    setWhite(m_checkKeepNotices);
    m_checkKeepNotices->setAttribute(Qt::WA_NoMousePropagation);
    connect(m_checkKeepNotices, &QCheckBox::toggled, this, &Form1::CheckKeepNotices_Click);

    m_frame2 = new QGroupBox(QStringLiteral("Delay Between Lookups (in seconds)"), this);
    m_frame2->setObjectName(QStringLiteral("Frame2"));
    place(m_frame2, 120, 4320, 7800, 825, wide);
    setWhite(m_frame2);

    m_text1 = new QLineEdit(QStringLiteral("Text1"), m_frame2);
    m_text1->setObjectName(QStringLiteral("Text1"));
    m_text1->setAccessibleName(m_frame2->title());
    place(m_text1, 240, 300, 6540, 345, wide);
    m_text1->setAttribute(Qt::WA_NoMousePropagation);
    connect(m_text1, &QLineEdit::textChanged, this, &Form1::Text1_Change);

    auto *pb7 = button(QStringLiteral("PushButton7"), QStringLiteral("?"), m_frame2, 6960, 300, 600,
                       345, {1, 0, 0, 0});
    pb7->setAccessibleDescription(QStringLiteral("Why there is a delay between lookups"));
    // How old an answer from the store may be and still stand for asking, under the delay it
    // goes with; the controls below it sit 450 twips lower than they were designed.
    const FormLayout::Growth fixed{0, 0, 0, 0};
    auto *reuseBefore = new QLabel(QStringLiteral("Reuse answers up to"), this);
    reuseBefore->setObjectName(QStringLiteral("Label1"));
    place(reuseBefore, 120, 5250, 1950, 345, fixed);
    m_reuseHours = new QSpinBox(this);
    m_reuseHours->setObjectName(QStringLiteral("ReuseHours"));
    m_reuseHours->setRange(0, 24 * 366);
    m_reuseHours->setKeyboardTracking(false);
    m_reuseHours->setAccessibleName(QStringLiteral("Reuse answers up to (hours old)"));
    m_reuseHours->setToolTip(QStringLiteral("0: always ask the servers"));
    reuseBefore->setBuddy(m_reuseHours);
    place(m_reuseHours, 2130, 5250, 1080, 345, fixed);
    auto *reuseAfter = new QLabel(QStringLiteral("hours old"), this);
    reuseAfter->setObjectName(QStringLiteral("Label2"));
    place(reuseAfter, 3330, 5250, 1800, 345, fixed);
    for (QLabel *label : {reuseBefore, reuseAfter})
        label->setAttribute(Qt::WA_NoMousePropagation);
    button(QStringLiteral("PushButton4"), QStringLiteral("Start Looking Up"), this, 120, 5720, 7800,
           405, wide);

    m_listView2 = makeList(this, QStringLiteral("ListView2"), m_results);
    m_listView2->setAccessibleName(QStringLiteral("Results"));
    // A click on a column's caption sorts the results by it, again for the reverse order; not
    // while a run adds its rows.
    m_listView2->header()->setSectionsClickable(true);
    connect(m_listView2->header(), &QHeaderView::sectionClicked, this, [this](int column) {
        if (isRunning())
            return;
        QHeaderView *header = m_listView2->header();
        const bool again = header->isSortIndicatorShown() &&
                           header->sortIndicatorSection() == column &&
                           header->sortIndicatorOrder() == Qt::AscendingOrder;
        const Qt::SortOrder order = again ? Qt::DescendingOrder : Qt::AscendingOrder;
        header->setSortIndicatorShown(true);
        header->setSortIndicator(column, order);
        m_results->sort(column, order);
    });
    // A new run's rows come in list order again.
    connect(m_results, &QAbstractItemModel::modelReset, this,
            [this] { m_listView2->header()->setSortIndicatorShown(false); });
    place(m_listView2, 120, 6230, 7800, 1575, {0, 1, 0, 1});
    // Columns sized to what a run puts in them; the Status cells tinted by status.
    new ResultColumns(m_listView2, m_results);
    m_listView2->setItemDelegateForColumn(1, new StatusDelegate(*m_results, m_listView2));
    // Ticking thousands of rows one by one is no way to choose what the exports take.
    m_listView2->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto *checkAll = new QAction(QStringLiteral("Check All"), m_listView2);
    auto *uncheckAll = new QAction(QStringLiteral("Uncheck All"), m_listView2);
    connect(checkAll, &QAction::triggered, this, [this] { m_results->setAllChecked(true); });
    connect(uncheckAll, &QAction::triggered, this, [this] { m_results->setAllChecked(false); });
    m_listView2->addActions({checkAll, uncheckAll});

    button(QStringLiteral("PushButton6"), QStringLiteral("Save Results To Text File"), this, 120,
           7890, 3840, 405, bottomLeftHalf);
    button(QStringLiteral("PushButton2"), QStringLiteral("Save Results As Excel File"), this, 4080,
           7890, 3840, 405, bottomRightHalf);
    button(QStringLiteral("PushButton18"), QStringLiteral("Copy Results To Clipboard"), this, 120,
           8400, 3840, 405, bottomLeftHalf);
    auto *pb9 = button(QStringLiteral("PushButton9"), QStringLiteral("Clear Results"), this, 4080,
                       8400, 3840, 405, bottomRightHalf);

    // Pointer feedback and the lists' keys and double-clicks.
    for (QWidget *w : {static_cast<QWidget *>(m_listView1), m_listView1->viewport(),
                       static_cast<QWidget *>(m_listView2), m_listView2->viewport(),
                       static_cast<QWidget *>(m_frame1), static_cast<QWidget *>(m_frame2)}) {
        w->setMouseTracking(true);
        w->installEventFilter(this);
    }
    connect(m_listView1, &QAbstractItemView::doubleClicked, this, &Form1::ListView1_DblClick);
    connect(m_listView2, &QAbstractItemView::doubleClicked, this, &Form1::ListView2_DblClick);

    connect(pb1, &QPushButton::clicked, this, &Form1::PushButton1_Click);
    connect(pb5, &QPushButton::clicked, this, &Form1::PushButton5_Click);
    connect(pb11, &QPushButton::clicked, this, &Form1::PushButton11_Click);
    connect(pb9, &QPushButton::clicked, this, &Form1::PushButton9_Click);
    connectListFileControls();
    connectLookupControls();
    connectExportControls();
}

QPushButton *Form1::button(const char *name) const
{
    return findChild<QPushButton *>(QString::fromLatin1(name));
}

// ---------------------------------------------------------------- start-up and closing

void Form1::Form_Load()
{
    restoreWindowSize();
    restoreKeepNotices();
    Statements s(m_errors, QStringLiteral("Form1.Form_Load"));

    s.run(100, [&] { applySkin(); });
    // Warns before the window shows when there is no network; start-up goes on either way.
    s.run(104, [&] { CheckOnline(m_services.commands, m_services.dialogs, m_appTitle); });

    const QString cursorPath = m_options.programDir + QStringLiteral("/HAND-M.CUR");
    if (s.test(106, [&] { return FileExists(cursorPath); }))
        s.run(108, [&] { loadHandCursor(cursorPath); });

    s.run(110, [&] {
        if (!m_options.homePageAllowed)
            return;
        const int draw = m_options.drawHomePageNumber
                             ? m_options.drawHomePageNumber()
                             : int(QRandomGenerator::global()->bounded(100)) + 1;
        if (draw == 7)
            m_services.desktop.openUrl(QUrl(HomePage));
    });

    s.run(128, [&] {
        setWindowTitle(ProductName);
        setWindowIcon(applicationIcon());
        m_appTitle = ApplicationTitle(ProductName);
    });

    s.run(130, [&] { m_addresses->addHeader(AddressList::ColumnCaption); });
    s.run(132, [&] { m_addresses->setHeaderWidth(1, 7000); });
    s.run(134, [&] { m_results->addHeader(ResultsTable::AddressCaption); });
    s.run(136, [&] { m_results->setHeaderWidth(1, ResultsTable::StartWidthTwips); });

    QString saved;
    s.run(138, [&] { saved = m_services.settings.read(AddressList::SettingsKey, QString()); });
    if (s.test(140, [&] { return !saved.isEmpty(); })) {
        // The non-empty pieces between ";" are appended in order, in one insertion.
        const auto pieces =
            s.value<QStringList>(142, [&] { return AddressList::restoredEntries(saved); });
        if (pieces)
            s.run(148, [&] { m_addresses->addItems(*pieces); });
    }

    s.run(152, [&] {
        const QString delay =
            m_services.settings.read(QStringLiteral("Text1"), QStringLiteral("7"));
        {
            const QSignalBlocker blocker(m_text1);
            m_text1->setText(delay);
        }
        // The change of the box stores it back; a failure of that store belongs here.
        storeDelayText();
    });
    s.run(154, [&] { restoreSource(); });

    s.run(156, [&] {
        const QSignalBlocker blocker(m_reuseHours);
        m_reuseHours->setValue(
            m_services.settings.read(ReuseHoursKey, QStringLiteral("0")).trimmed().toInt());
    });
}

void Form1::Form_QueryUnload()
{
    Statements s(m_errors, QStringLiteral("Form1.Form_QueryUnload"));
    // What waits for the end of an edit or of a burst of changes is written now.
    s.run(102, [&] { storeSettingsBeforeClose(); });
    QString saved;
    s.run(104, [&] { saved = AddressList::savedForm(*m_addresses); });
    // An emptied list is written too, so the old list does not come back.
    s.run(110, [&] { m_services.settings.write(AddressList::SettingsKey, saved); });
    s.run(112, [&] { QCoreApplication::processEvents(); });
}

void Form1::centerOnScreen()
{
    if (const QScreen *s = screen()) {
        const QRect available = s->availableGeometry();
        // A window as large as the screen starts at its corner, not a pixel off it.
        const QPoint centred = available.center() - QPoint(width() / 2, height() / 2);
        move(std::max(centred.x(), available.left()), std::max(centred.y(), available.top()));
    }
}

void Form1::closeEvent(QCloseEvent *event)
{
    Form_QueryUnload();
    saveWindowSize();
    event->accept();
}

void Form1::restoreWindowSize()
{
    // A size that is missing, unreadable or below the designed size leaves the designed one.
    std::optional<QSize> saved;
    try {
        saved =
            FormLayout::parseSize(m_services.settings.read(WindowSizeKey, QString()), DesignedSize);
    } catch (const std::exception &) {
    }
    if (!saved)
        return;
    QSize size = *saved;
    // A size kept from a larger screen is cut to this one.
    if (const QScreen *s = screen())
        size = size.boundedTo(s->availableGeometry().size()).expandedTo(DesignedSize);
    resize(size);
}

void Form1::restoreKeepNotices()
{
    QString saved;
    try {
        saved = m_services.settings.read(KeepNoticesKey, QString());
    } catch (const std::exception &) {
    }
    const QSignalBlocker blocker(m_checkKeepNotices);
    m_checkKeepNotices->setChecked(saved == QLatin1String("1"));
}

void Form1::CheckKeepNotices_Click(bool checked)
{
    // Only a convenience, as the window's size is.
    try {
        m_services.settings.write(KeepNoticesKey,
                                  checked ? QStringLiteral("1") : QStringLiteral("0"));
    } catch (const std::exception &) {
    }
}

void Form1::saveWindowSize()
{
    // A maximised window keeps the size it returns to.
    const QSize size = isMaximized() || isFullScreen() ? normalGeometry().size() : this->size();
    if (size.width() < DesignedSize.width() || size.height() < DesignedSize.height())
        return;
    // Only a convenience: a settings file that cannot be written has been reported already by
    // the address list's write.
    try {
        m_services.settings.write(WindowSizeKey, FormLayout::sizeText(size));
    } catch (const std::exception &) {
    }
}

void Form1::applySkin()
{
    const QString skinPath = m_options.programDir + QStringLiteral("/x/o.cjs");
    if (!FileExists(skinPath))
        return;
    const QColor buttonFace = palette().color(QPalette::Button);
    for (QWidget *w : {static_cast<QWidget *>(this), static_cast<QWidget *>(m_frame1),
                       static_cast<QWidget *>(m_frame2), static_cast<QWidget *>(m_option1),
                       static_cast<QWidget *>(m_option2), static_cast<QWidget *>(m_option3)}) {
        setBackground(w, buttonFace);
    }
    QFile file(skinPath);
    if (!file.open(QIODevice::ReadOnly))
        throw RuntimeError(QStringLiteral("Cannot load skin ") + skinPath + QStringLiteral(": ") +
                           file.errorString());
    setStyleSheet(QString::fromUtf8(file.readAll()));
}

void Form1::loadHandCursor(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw RuntimeError(QStringLiteral("File not found: ") + path);
    const QByteArray bytes = file.readAll();
    QPixmap pixmap;
    if (!pixmap.loadFromData(bytes, "CUR") && !pixmap.loadFromData(bytes))
        throw RuntimeError(QStringLiteral("Invalid picture"));
    // A cursor file keeps its hot spot where an icon file keeps planes and bit count.
    int hotX = -1;
    int hotY = -1;
    if (bytes.size() >= 22 && bytes[2] == 2 && bytes[3] == 0) {
        hotX = quint8(bytes[10]) | quint8(bytes[11]) << 8;
        hotY = quint8(bytes[12]) | quint8(bytes[13]) << 8;
    }
    m_handCursor = QCursor(pixmap, hotX, hotY);
    m_hasHandCursor = true;
}

// ---------------------------------------------------------------- pointer and busy state

void Form1::setPointer(int value)
{
    m_pointer = value;
    if (value == Hourglass)
        setCursor(Qt::WaitCursor);
    else if (value == Custom && m_hasHandCursor)
        setCursor(m_handCursor);
    else
        setCursor(Qt::ArrowCursor);
}

void Form1::beginBusy()
{
    ++m_busyDepth;
    setPointer(Hourglass);
}

void Form1::endBusy()
{
    if (m_busyDepth > 0)
        --m_busyDepth;
    if (m_busyDepth == 0)
        setPointer(Arrow);
}

void Form1::pointerOverBackground()
{
    if (m_pointer != Hourglass && m_pointer != Arrow)
        setPointer(Arrow);
}

void Form1::pointerOverButton()
{
    if (m_pointer != Hourglass && m_pointer != Custom)
        setPointer(Custom);
}

void Form1::mouseMoveEvent(QMouseEvent *event)
{
    pointerOverBackground();
    QWidget::mouseMoveEvent(event);
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseMove) {
        if (qobject_cast<QPushButton *>(watched))
            pointerOverButton();
        else
            pointerOverBackground();
    } else if (event->type() == QEvent::KeyPress) {
        const auto *keyEvent = static_cast<QKeyEvent *>(event);
        const int key = keyEvent->key();
        // Enter presses the focused button, as Space does.
        if (auto *b = qobject_cast<QPushButton *>(watched);
            b && (key == Qt::Key_Return || key == Qt::Key_Enter) && !keyEvent->isAutoRepeat()) {
            b->click();
            return true;
        }
        if (watched == m_listView1)
            ListView1_KeyDown(key);
        else if (watched == m_listView2)
            ListView2_KeyDown(key);
    }
    // Every event goes on to the control unchanged.
    return QWidget::eventFilter(watched, event);
}

void Form1::message(const QString &text)
{
    m_services.dialogs.message(text, m_appTitle, Dialogs::Icon::None);
}

// ---------------------------------------------------------------- address list

void Form1::appendAddress(const QString &text)
{
    m_addresses->addItem(text);
    saveAddressList();
}

void Form1::PushButton5_Click()
{
    Statements s(m_errors, QStringLiteral("Form1.PushButton5_Click"));
    QString text;
    s.run(100, [&] {
        text = m_services.dialogs.inputText(QStringLiteral("Enter website address to add: "),
                                            m_appTitle);
    });
    if (text.isEmpty())
        return;
    s.run(104, [&] { appendAddress(text); });
}

void Form1::PushButton1_Click()
{
    Statements s(m_errors, QStringLiteral("Form1.PushButton1_Click"));
    const QStringList samples = AddressList::sampleEntries();
    s.run(100, [&] { appendAddress(samples[0]); });
    s.run(102, [&] { appendAddress(samples[1]); });
    s.run(104, [&] { appendAddress(samples[2]); });
}

void Form1::PushButton11_Click()
{
    Statements s(m_errors, QStringLiteral("Form1.PushButton11_Click"));
    s.run(100, [&] {
        if (isBusy())
            return;
        m_addresses->clearItems();
        saveAddressList();
    });
}

template <class Model>
void Form1::removeSelected(QAbstractItemView *view, Model &model, const QString &location)
{
    if (isBusy() || model.itemCount() == 0)
        return;
    const int index = selectedIndex(view);
    if (index == 0)
        return;
    model.removeItem(index);
    if constexpr (std::is_same_v<Model, ListViewModel>) {
        Statements s(m_errors, location);
        s.run(100, [&] { saveAddressList(); });
    }
}

void Form1::ListView1_DblClick()
{
    removeSelected(m_listView1, *m_addresses, QStringLiteral("Form1.ListView1_DblClick"));
}

void Form1::ListView1_KeyDown(int keyCode)
{
    if (keyCode == Qt::Key_Delete)
        removeSelected(m_listView1, *m_addresses, QStringLiteral("Form1.ListView1_KeyDown"));
}

// ---------------------------------------------------------------- results table

void Form1::PushButton9_Click()
{
    // The run adds its rows to this table: it is left alone until the run has ended.
    if (isRunning())
        return;
    Statements s(m_errors, QStringLiteral("Form1.PushButton9_Click"));
    s.run(100, [&] { m_results->clearItems(); });
}

void Form1::ListView2_DblClick()
{
    removeSelected(m_listView2, *m_results, QStringLiteral("Form1.ListView2_DblClick"));
}

void Form1::ListView2_KeyDown(int keyCode)
{
    if (keyCode == Qt::Key_Delete)
        removeSelected(m_listView2, *m_results, QStringLiteral("Form1.ListView2_KeyDown"));
}
