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
#include <QTemporaryFile>

#include <cerrno>

#include <sys/stat.h>

namespace {

const QString Group = QStringLiteral("Quorvane");

// Whether QSettings can read the text: every line blank, a comment, a section, a "key=value"
// or the continuation of one. Another program's file (a password table, a picture) is not
// settings, and QSettings would replace it with its own few lines.
bool readsAsSettings(const QByteArray &text)
{
    bool continued = false;
    for (qsizetype pos = 0; pos < text.size();) {
        qsizetype end = text.indexOf('\n', pos);
        if (end < 0)
            end = text.size();
        const QByteArrayView line = QByteArrayView(text).sliced(pos, end - pos).trimmed();
        pos = end + 1;
        if (continued) {
            continued = line.endsWith('\\');
            continue;
        }
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            if (!line.endsWith(']'))
                return false;
            continue;
        }
        if (!line.contains('='))
            return false;
        continued = line.endsWith('\\');
    }
    return true;
}

// A line of the file as UTF-8: as it is when it is UTF-8, else read as Latin-1.
QByteArray asUtf8(QByteArrayView line)
{
    return line.isValidUtf8() ? line.toByteArray() : QString::fromLatin1(line).toUtf8();
}

// What QSettings reads a value as, for the store's callers: a list (an unquoted value with
// commas) joined again into the text it was.
QString textOf(const QVariant &value)
{
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

// The "key=value" line QSettings writes for a value, split at its '='.
std::pair<QByteArray, QByteArray> writtenLine(const QString &key, const QString &value)
{
    QTemporaryFile file;
    if (!file.open())
        throw RuntimeError(QStringLiteral("Path/File access error: no temporary file"));
    file.close();
    {
        QSettings one(file.fileName(), QSettings::IniFormat);
        one.beginGroup(Group);
        one.setValue(key, value);
    }
    // Read by name: QSettings has replaced the file.
    QFile written(file.fileName());
    if (!written.open(QIODevice::ReadOnly))
        throw RuntimeError(QStringLiteral("Path/File access error: no temporary file"));
    for (const QByteArray &line : written.readAll().split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (!line.startsWith('[') && equals > 0)
            return {line.left(equals), line.mid(equals + 1)};
    }
    throw RuntimeError(QStringLiteral("Path/File access error: the value cannot be written"));
}

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

void IniSettingsStore::inspect() const
{
    // Only ever for a regular file (see refusal): a pipe would be read forever.
    if (m_inspected)
        return;
    m_inspected = true;
    QFile file(m_path);
    if (!file.exists())
        return; // made on the first write
    const QString shown = QDir::toNativeSeparators(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_unreadable = QStringLiteral("Path/File access error: ") + shown +
                       QStringLiteral(" cannot be read (") + file.errorString() +
                       QStringLiteral("); the settings are not saved");
        return;
    }
    const QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError || !readsAsSettings(text)) {
        m_unreadable = QStringLiteral("Path/File access error: ") + shown +
                       QStringLiteral(" does not read as a settings file; the settings are "
                                      "not saved");
        return;
    }
    // The lines of our group that QSettings would read otherwise than written, each made one
    // quoted UTF-8 string and read by QSettings from a file of their own.
    const QByteArray header = '[' + Group.toLatin1() + ']';
    QByteArray whole = header + '\n';
    bool inGroup = false;
    for (const QByteArray &raw : text.split('\n')) {
        const QByteArray line = raw.endsWith('\r') ? raw.chopped(1) : raw;
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith('[')) {
            inGroup = trimmed == header;
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!inGroup || equals <= 0 || trimmed.startsWith(';') || trimmed.startsWith('#') ||
            trimmed.endsWith('\\'))
            continue;
        const QByteArrayView value = QByteArrayView(line).sliced(equals + 1);
        if (line.isValidUtf8() && !IniLinePatch::hasBareSemicolon(value))
            continue;
        whole += asUtf8(QByteArrayView(line).first(equals)) + '=' +
                 IniLinePatch::quotedWhole(asUtf8(value)) + '\n';
        m_keepLines = true;
    }
    if (!m_keepLines)
        return;
    QTemporaryFile copy;
    if (!copy.open() || copy.write(whole) != whole.size() || !copy.flush())
        return;
    QSettings read(copy.fileName(), QSettings::IniFormat);
    read.beginGroup(Group);
    for (const QString &key : read.childKeys())
        m_readWhole.insert(key, textOf(read.value(key)));
}

QSettings *IniSettingsStore::settings() const
{
    // Opened when first needed and only on a file that may be read: opening a pipe waits for
    // a writer, and a device is no settings file.
    if (m_settings || !refusal(m_path).isEmpty())
        return m_settings.get();
    inspect();
    if (m_unreadable.isEmpty()) {
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
    if (const auto whole = m_readWhole.constFind(key); whole != m_readWhole.cend())
        return *whole;
    const QVariant value = store->value(key);
    if (!value.isValid())
        return defaultValue;
    // An unquoted value with commas, as a hand-edited file has it, comes back as a list:
    // joined again, it is the text that was there.
    return textOf(value);
}

void IniSettingsStore::writeLine(const QString &key, const QString &value)
{
    const auto [writtenKey, writtenValue] = writtenLine(key, value);
    QLockFile lock(m_path + QStringLiteral(".lock"));
    if (!lock.lock())
        throw RuntimeError(QStringLiteral("Permission denied: cannot write ") + m_path);
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        throw RuntimeError(QStringLiteral("Path/File access error: ") + m_path);
    QByteArray text = file.readAll();
    file.close();
    IniLinePatch::putLine(text, Group.toLatin1(), writtenKey, writtenValue);
    QSaveFile out(m_path);
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size() || !out.commit())
        throw RuntimeError(QStringLiteral("Permission denied: cannot write ") + m_path);
    m_readWhole.insert(key, value);
}

void IniSettingsStore::write(const QString &key, const QString &value)
{
    // Written through a link, the settings would replace what it points to; a file that did
    // not read would be replaced by the few lines written here.
    QString why = refusal(m_path);
    if (why.isEmpty()) {
        inspect();
        why = m_unreadable;
    }
    if (!why.isEmpty()) {
        if (m_refusalReported)
            return;
        m_refusalReported = true;
        throw RuntimeError(why);
    }
    if (m_keepLines) {
        // The line already says it, in the user's own form.
        if (const auto whole = m_readWhole.constFind(key);
            whole != m_readWhole.cend() && *whole == value)
            return;
        writeLine(key, value);
        return;
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
