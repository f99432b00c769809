#include "app/formlayout.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace FormLayout {

namespace {

int share(int extra, double part)
{
    return int(std::lround(extra * part));
}

} // namespace

QRect grown(const QRect &designed, const Growth &growth, const QSize &designedWindow,
            const QSize &window)
{
    const int dx = std::max(0, window.width() - designedWindow.width());
    const int dy = std::max(0, window.height() - designedWindow.height());
    const int left = designed.left() + share(dx, growth.x);
    const int top = designed.top() + share(dy, growth.y);
    const int right = designed.left() + designed.width() + share(dx, growth.x + growth.width);
    const int bottom = designed.top() + designed.height() + share(dy, growth.y + growth.height);
    return QRect(left, top, right - left, bottom - top);
}

QString sizeText(const QSize &size)
{
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

std::optional<QSize> parseSize(const QString &text, const QSize &minimum)
{
    static const QRegularExpression form(QStringLiteral("^([0-9]{1,5})x([0-9]{1,5})$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const QSize size(m.captured(1).toInt(), m.captured(2).toInt());
    if (size.width() < minimum.width() || size.height() < minimum.height())
        return std::nullopt;
    return size;
}

} // namespace FormLayout
