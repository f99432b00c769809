#pragma once

#include <QRect>
#include <QSize>
#include <QString>

#include <optional>

// How the window's controls follow the window when it is made larger than its designed size.
namespace FormLayout {

// The shares of the extra width and height a control takes: `x` and `y` move its left and top
// edges, `width` and `height` widen and heighten it. All zero: it stays as designed.
struct Growth
{
    double x = 0;
    double width = 0;
    double y = 0;
    double height = 0;
};

// The control's rectangle in a window of the given size. A window smaller than the designed
// one counts as the designed size. Edges are rounded on their own, so two controls whose shares
// meet (0.5 wide, then starting at 0.5) keep the gap between them.
QRect grown(const QRect &designed, const Growth &growth, const QSize &designedWindow,
            const QSize &window);

// The remembered window size as stored: "WIDTHxHEIGHT".
QString sizeText(const QSize &size);
// The stored size read back; nothing when it does not read as two whole numbers or is smaller
// than the minimum in either direction.
std::optional<QSize> parseSize(const QString &text, const QSize &minimum);

} // namespace FormLayout
