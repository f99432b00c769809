#pragma once

#include "facts/recordfacts.h"

#include <QString>
#include <QStringList>

#include <span>

// Each fact of RecordFacts by its JSON key, as the store reads and writes it, and whether a
// change of it between two answers is reported (history, changes, the "Changed" column).
struct FactField
{
    const char *key; // factColumns()' jsonKey
    QString RecordFacts::*text = nullptr;
    QStringList RecordFacts::*list = nullptr; // compared as a set
    bool tracked = false;
    bool status = false; // RecordFacts::status, kept as its word
};

namespace FactFields {

// Every fact, in the order the store keeps them (a fact added later comes last, so a payload
// written before still reads).
std::span<const FactField> all();

// The fact as one text: a list joined by spaces.
QString text(const RecordFacts &facts, const FactField &field);
// The fact as a payload keeps it (a list joined by line ends), and back.
QString stored(const RecordFacts &facts, const FactField &field);
void restore(RecordFacts &facts, const FactField &field, const QString &value);

// One fact that differs between two answers.
struct Change
{
    const char *key;
    QString before;
    QString after;
};

// The tracked facts that differ from `before` to `after`, in column order; lists compare as
// sets and are shown sorted.
QList<Change> changes(const RecordFacts &before, const RecordFacts &after);

} // namespace FactFields
