#pragma once

#include <QFile>

// A file of tests/common/fixtures/.
inline QByteArray fixture(const char *name)
{
    QFile file(QStringLiteral(QUORVANE_TEST_FIXTURES "/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", name);
    return file.readAll();
}
