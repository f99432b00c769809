#pragma once

#include <QFile>

// A page of tests/lookup/fixtures/.
inline QByteArray fixture(const char *name)
{
    QFile file(QStringLiteral(QUORVANE_LOOKUP_FIXTURES "/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", name);
    return file.readAll();
}
