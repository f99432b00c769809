#pragma once

#include <QHash>
#include <QString>

#include <memory>

class QSettings;

// The per-user settings store: string values under the application "Ferrowick" and the
// group "Quorvane".
class SettingsStore
{
public:
    virtual ~SettingsStore() = default;
    virtual QString read(const QString &key, const QString &defaultValue) const = 0;
    // Stores the value at once; throws RuntimeError when it cannot be stored.
    virtual void write(const QString &key, const QString &value) = 0;
};

// The real store: $XDG_CONFIG_HOME/Ferrowick/Quorvane.ini, keys inside the group "Quorvane".
// One settings object serves the store's whole life, so a write does not read and parse the
// file again; a plain value whose key is already in the file is written into its line
// directly (see IniLinePatch), in the form QSettings gives it.
//
// A settings path that is, or links to, something other than a regular file (a device, a
// pipe, a folder, a link to nothing) is never opened nor written; nor is a file that cannot be
// read or does not read as a settings file (a link to some other program's file): the first
// write says so by throwing, later ones leave it silently; reads then give the defaults. A
// missing file is made as usual.
//
// QSettings writes a file whole from what it read, so a hand-edited line it reads otherwise
// than written would come back changed: an unquoted value with ";" (a comment to QSettings,
// which keeps the first entry of an address list only) or a value that is not UTF-8. Such a
// value is read here whole (";" as text; bytes that are not UTF-8 as Latin-1), and a file
// holding one is from then on written line by line, each write replacing its own key's line
// only, so every other line stays as the user left it; a value written back unchanged leaves
// its line alone.
class IniSettingsStore : public SettingsStore
{
public:
    IniSettingsStore();
    ~IniSettingsStore() override;
    QString read(const QString &key, const QString &defaultValue) const override;
    void write(const QString &key, const QString &value) override;
    static QString filePath();
    // Why the file at the path may not be written; empty when it may.
    static QString refusal(const QString &path);

private:
    QSettings *settings() const;
    // Reads the file as it is, once: whether it reads as a settings file at all, and the
    // values QSettings would read otherwise than written.
    void inspect() const;
    // Writes a plain value into its existing line of the file; false when it is left to
    // QSettings.
    bool writeInPlace(const QString &key, const QString &value);
    // Writes any value into its own line (made when missing), nothing else changing.
    void writeLine(const QString &key, const QString &value);

    mutable QString m_path;
    QHash<QString, QString> m_writtenInPlace;
    mutable std::unique_ptr<QSettings> m_settings;
    bool m_refusalReported = false;
    mutable bool m_inspected = false;
    // Why the file may not be written although it is a regular file (it does not read).
    mutable QString m_unreadable;
    // The file holds lines QSettings would not write back as they are.
    mutable bool m_keepLines = false;
    // Values read from such lines, as the file holds them.
    mutable QHash<QString, QString> m_readWhole;
};
