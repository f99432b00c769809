#pragma once

#include <QString>

inline const QString ProductName = QStringLiteral("Quorvane");

// The application title: the product name, cut at its last blank until it is at most
// 40 characters long (a name without blanks is cut at 40 characters).
QString ApplicationTitle(const QString &productName);

// The caption while a run works and after it, until the next change: rows done of the list's
// entries, and how many of them failed when any did ("Quorvane - 5,000 of 5,000, 12 failed").
QString RunCaption(qsizetype done, qsizetype total, qsizetype failed);
