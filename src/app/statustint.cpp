#include "app/statustint.h"

#include "app/resultcolumns.h"
#include "facts/recordfacts.h"
#include "results/resultstable.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QPalette>
#include <QToolTip>

namespace {

struct Tinted
{
    RecordStatus status;
    QColor hue;
    const char *meaning;
};

// The tinted statuses, in the legend's order, with what each says about the row.
const Tinted &tinted(int i)
{
    static const Tinted table[] = {
        {RecordStatus::Available, QColor(0x2e, 0x9e, 0x44), "no such name is registered"},
        {RecordStatus::Throttled, QColor(0xe6, 0xa1, 0x00), "a server kept refusing our pace"},
        {RecordStatus::Failed, QColor(0xd9, 0x36, 0x36), "no whole answer came back"},
        {RecordStatus::Invalid, QColor(0xd9, 0x36, 0x36), "not an address a source can ask"},
    };
    return table[i];
}
constexpr int TintedCount = 4;

// How much of the hue goes into the base colour.
constexpr double HueShare = 0.3;

QColor mixed(const QColor &base, const QColor &hue)
{
    const auto channel = [](double b, double h) { return b * (1 - HueShare) + h * HueShare; };
    return QColor::fromRgbF(float(channel(base.redF(), hue.redF())),
                            float(channel(base.greenF(), hue.greenF())),
                            float(channel(base.blueF(), hue.blueF())));
}

} // namespace

namespace StatusTint {

QColor tint(const QString &status, const QPalette &palette)
{
    for (int i = 0; i < TintedCount; ++i) {
        if (recordStatusName(tinted(i).status) == status)
            return mixed(palette.color(QPalette::Base), tinted(i).hue);
    }
    return {};
}

QString legend(const QPalette &palette)
{
    QString text = QStringLiteral("<b>Status</b>");
    for (int i = 0; i < TintedCount; ++i) {
        const Tinted &t = tinted(i);
        text += QStringLiteral("<br><span style=\"background-color:%1; color:%2\">&nbsp;%3&nbsp;"
                               "</span> %4")
                    .arg(tint(recordStatusName(t.status), palette).name(),
                         palette.color(QPalette::Text).name(), recordStatusName(t.status),
                         QLatin1String(t.meaning));
    }
    return text + QStringLiteral("<br>registered and reserved rows are not tinted");
}

} // namespace StatusTint

StatusDelegate::StatusDelegate(const ResultsTable &table, QObject *parent)
    : QStyledItemDelegate(parent), m_table(table)
{
}

bool StatusDelegate::isStatusCell(const QModelIndex &index) const
{
    return index.isValid() && index.column() == 1 && ResultColumns::summaryColumnCount(m_table) > 0;
}

void StatusDelegate::initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    if (!isStatusCell(index))
        return;
    const QColor tint = StatusTint::tint(option->text, option->palette);
    if (tint.isValid())
        option->backgroundBrush = tint;
}

bool StatusDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view,
                               const QStyleOptionViewItem &option, const QModelIndex &index)
{
    if (event->type() != QEvent::ToolTip || !isStatusCell(index))
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    QToolTip::showText(event->globalPos(), StatusTint::legend(view->palette()), view);
    return true;
}
