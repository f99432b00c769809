#include "platform/settingsstore.h"

#include "platform/inilinepatch.h"
#include "platform/runtimeerror.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

#include <cerrno>

#include <sys/stat.h>

namespace {

const QString Group = QStringLiteral("Quorvane");

} // namespace

IniSettingsStore::IniSettingsStore() : m_path(filePath())
{
}

IniSettingsStore::~IniSettingsStore() = default;

QString IniSettingsStore::filePath()
{
    // Where QSettings puts the user-scope file of "Ferrowick"/"Quorvane" on this platform,
    // worked out without opening it.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Ferrowick/Quorvane.ini");
}

QString IniSettingsStore::refusal(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat entry
    {
    };
    if (::lstat(name.constData(), &entry) != 0)
        return {}; // nothing there yet: made on the first write
    if (S_ISREG(entry.st_mode))
        return {};
    const QString shown = QDir::toNativeSeparators(path);
    if (!S_ISLNK(entry.st_mode))
        return QStringLiteral("Path/File access error: ") + shown +
               QStringLiteral(" is not a regular file; the settings are not saved");
    struct stat target
    {
    };
    if (::stat(name.constData(), &target) != 0)
        return QStringLiteral("Path/File access error: ") + shown +
               QStringLiteral(" links to nothing; the settings are not saved");
    if (!S_ISREG(target.st_mode))
        return QStringLiteral("Path/File access error: ") + shown +
               QStringLiteral(" links to something other than a regular file; the settings "
                              "are not saved");
    return {};
}

QSettings *IniSettingsStore::settings() const
{
    // Opened when first needed and only on a file that may be read: opening a pipe waits for
    // a writer, and a device is no settings file.
    if (!m_settings && refusal(m_path).isEmpty()) {
        m_settings =
            std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                        QStringLiteral("Ferrowick"), QStringLiteral("Quorvane"));
        m_settings->beginGroup(Group);
        // Written in place and checked where QSettings reads.
        m_path = m_settings->fileName();
    }
    return m_settings.get();
}

bool IniSettingsStore::writeInPlace(const QString &key, const QString &value)
{
    const auto plainKey = IniLinePatch::plainKey(key);
    const auto plainValue = IniLinePatch::plainValue(value);
    if (!plainKey || !plainValue)
        return false;
    // The same lock QSettings takes, so another instance's write is not lost in between.
    QLockFile lock(m_path + QStringLiteral(".lock"));
    if (!lock.lock())
        return false;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return false; // not there yet: QSettings makes it
    QByteArray text = file.readAll();
    file.close();
    if (!IniLinePatch::replaceValue(text, Group.toLatin1(), *plainKey, *plainValue))
        return false;
    // Replaced whole or not at all, like QSettings does it.
    QSaveFile out(m_path);
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size() || !out.commit())
        throw RuntimeError(QStringLiteral("Permission denied: cannot write ") + m_path);
    m_writtenInPlace.insert(key, value);
    return true;
}

QString IniSettingsStore::read(const QString &key, const QString &defaultValue) const
{
    // What was written in place is newer than what the settings object last read.
    if (const auto written = m_writtenInPlace.constFind(key); written != m_writtenInPlace.cend())
        return *written;
    QSettings *store = settings();
    if (!store)
        return defaultValue;
    const QVariant value = store->value(key);
    if (!value.isValid())
        return defaultValue;
    // An unquoted value with commas, as a hand-edited file has it, comes back as a list:
    // joined again, it is the text that was there.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

void IniSettingsStore::write(const QString &key, const QString &value)
{
    // Written through a link, the settings would replace what it points to.
    if (const QString why = refusal(m_path); !why.isEmpty()) {
        if (m_refusalReported)
            return;
        m_refusalReported = true;
        throw RuntimeError(why);
    }
    if (writeInPlace(key, value))
        return;
    QSettings *store = settings();
    // What was written in place goes through the settings object as well, whether or not it
    // reads the changed file again before it writes.
    for (auto it = m_writtenInPlace.cbegin(); it != m_writtenInPlace.cend(); ++it)
        store->setValue(it.key(), it.value());
    m_writtenInPlace.clear();
    store->setValue(key, value);
    // Written through at once, so a killed process loses nothing.
    store->sync();
    const QSettings::Status status = store->status();
    // A settings object keeps its first failure for good: the next write starts afresh from
    // the file, so one failure does not fail every later write.
    if (status != QSettings::NoError)
        m_settings.reset();
    if (status == QSettings::AccessError)
        throw RuntimeError(QStringLiteral("Permission denied: cannot write ") + m_path);
    if (status != QSettings::NoError)
        throw RuntimeError(QStringLiteral("Path/File access error: ") + m_path);
}
