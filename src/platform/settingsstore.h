#pragma once

#include <QHash>
#include <QString>

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
class IniSettingsStore : public SettingsStore
{
public:
    QString read(const QString &key, const QString &defaultValue) const override;
    void write(const QString &key, const QString &value) override;
    static QString filePath();
};

// Test double kept in memory; can be told to refuse writes.
class MemorySettingsStore : public SettingsStore
{
public:
    QString read(const QString &key, const QString &defaultValue) const override;
    void write(const QString &key, const QString &value) override;

    QHash<QString, QString> values;
    QStringList writtenKeys; // every write, in order
    QString failWritesWith;  // when set, every write throws with this description
};
