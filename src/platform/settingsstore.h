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
// pipe, a folder, a link to nothing) is never opened nor written: the first write says so by
// throwing, later ones leave it silently; reads then give the defaults. A missing file is
// made as usual.
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
    // Writes a plain value into its existing line of the file; false when it is left to
    // QSettings.
    bool writeInPlace(const QString &key, const QString &value);

    mutable QString m_path;
    QHash<QString, QString> m_writtenInPlace;
    mutable std::unique_ptr<QSettings> m_settings;
    bool m_refusalReported = false;
};
