#pragma once

#include <QByteArrayView>
#include <QString>

// UTF-8 bytes as text: unlike QString::fromUtf8, a leading U+FEFF is kept.
QString textFromUtf8(QByteArrayView utf8);
