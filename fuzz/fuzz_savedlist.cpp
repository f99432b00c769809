// Restoring the address list from its saved form ("IP Addresses": entries joined with ';').

#include "addresslist.h"
#include "fuzzcheck.h"
#include "listviewmodel.h"

#include <QStringList>

#include <cstddef>
#include <cstdint>

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
    return 0;
}
