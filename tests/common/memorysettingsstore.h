#pragma once

#include "platform/settingsstore.h"

#include <QHash>
#include <QStringList>

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
