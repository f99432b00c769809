// Restoring the address list from its saved form ("IP Addresses": entries joined with ';'),
// also after the saved form has been through the settings file.

#include "addresses/addresslist.h"
#include "addresses/listviewmodel.h"
#include "fuzzcheck.h"
#include "platform/settingsstore.h"

#include <QFile>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

QTemporaryDir *configHome = nullptr;

// The value as the settings file on disk gives it back: read from a copy of the file, so that
// QSettings' in-process cache of the written file plays no part.
QString readBackFromDisk(const QString &key)
{
    static int copies = 0;
    const QString copy = configHome->filePath(QStringLiteral("copy%1.ini").arg(++copies));
    FUZZ_CHECK(QFile::copy(IniSettingsStore::filePath(), copy));
    QString value;
    {
        QSettings settings(copy, QSettings::IniFormat);
        settings.beginGroup(QStringLiteral("Quorvane"));
        value = settings.value(key).toString();
    }
    QFile::remove(copy);
    return value;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static QTemporaryDir dir; // removed when the run ends
    configHome = &dir;
    qputenv("XDG_CONFIG_HOME", configHome->path().toLocal8Bit());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString saved = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));

    const QStringList restored = AddressList::restoredEntries(saved);
    for (const QString &entry : restored) {
        FUZZ_CHECK(!entry.isEmpty());
        FUZZ_CHECK(!entry.contains(u';'));
        FUZZ_CHECK(saved.contains(entry));
    }
    // Nothing but the separators goes.
    qsizetype characters = 0;
    for (const QString &entry : restored)
        characters += entry.size();
    FUZZ_CHECK_EQUAL(characters, saved.size() - saved.count(u';'));

    ListViewModel list(true);
    list.addItems(restored);
    FUZZ_CHECK_EQUAL(list.itemCount(), int(restored.size()));
    const QString again = AddressList::savedForm(list);
    FUZZ_CHECK_EQUAL(again, restored.join(u';'));
    FUZZ_CHECK_EQUAL(AddressList::restoredEntries(again), restored);

    // A saved form with no empty piece comes back unchanged.
    if (!saved.isEmpty() && !saved.startsWith(u';') && !saved.endsWith(u';') &&
        !saved.contains(QStringLiteral(";;")))
        FUZZ_CHECK_EQUAL(again, saved);

    // Through the settings file and back.
    IniSettingsStore store;
    store.write(AddressList::SettingsKey, again);
    FUZZ_CHECK_EQUAL(store.read(AddressList::SettingsKey, QString()), again);
    // QSettings (Qt 6.4) writes a value without the first U+FEFF its UTF-8 encoder sees when
    // nothing but escaped characters comes before it, taking it for a byte-order mark; nothing
    // else may change.
    const QString readBack = readBackFromDisk(AddressList::SettingsKey);
    const qsizetype feff = again.indexOf(QChar(0xFEFF));
    if (readBack != again) {
        FUZZ_CHECK(feff >= 0);
        const QString withoutFeff = QString(again).remove(feff, 1);
        FUZZ_CHECK_EQUAL(readBack, withoutFeff);
    }
    return 0;
}
