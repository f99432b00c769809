#include "memorysettingsstore.h"

#include "platform/runtimeerror.h"

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
