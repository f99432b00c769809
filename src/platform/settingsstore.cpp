#include "platform/settingsstore.h"

#include "platform/runtimeerror.h"

#include <QSettings>

namespace {

QSettings openStore()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Ferrowick"),
                     QStringLiteral("Quorvane"));
}

const QString Group = QStringLiteral("Quorvane");

} // namespace

QString IniSettingsStore::read(const QString &key, const QString &defaultValue) const
{
    QSettings settings = openStore();
    settings.beginGroup(Group);
    const QVariant value = settings.value(key);
    return value.isValid() ? value.toString() : defaultValue;
}

void IniSettingsStore::write(const QString &key, const QString &value)
{
    QSettings settings = openStore();
    settings.beginGroup(Group);
    settings.setValue(key, value);
    // Written through at once, so a killed process loses nothing.
    settings.sync();
    if (settings.status() == QSettings::AccessError)
        throw RuntimeError(QStringLiteral("Permission denied: cannot write ") +
                           settings.fileName());
    if (settings.status() != QSettings::NoError)
        throw RuntimeError(QStringLiteral("Path/File access error: ") + settings.fileName());
}

QString IniSettingsStore::filePath()
{
    return openStore().fileName();
}

QString MemorySettingsStore::read(const QString &key, const QString &defaultValue) const
{
    return values.value(key, defaultValue);
}

void MemorySettingsStore::write(const QString &key, const QString &value)
{
    writtenKeys.append(key);
    if (!failWritesWith.isEmpty())
        throw RuntimeError(failWritesWith);
    values.insert(key, value);
}
