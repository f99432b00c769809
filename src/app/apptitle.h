#pragma once

#include <QString>

inline const QString ProductName = QStringLiteral("Quorvane");

// The application title: the product name, cut at its last blank until it is at most
// 40 characters long (a name without blanks is cut at 40 characters).
QString ApplicationTitle(const QString &productName);
