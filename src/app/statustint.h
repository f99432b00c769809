#pragma once

#include <QColor>
#include <QStyledItemDelegate>

class QPalette;
class ResultsTable;

// The Status cells of the registries' sources, tinted by status so rows are easy to scan:
// available green, throttled amber, failed and invalid red; registered and reserved rows keep
// the plain background. Each tint is its hue mixed into the palette's base colour, so the
// palette's text colour stays readable on it in light and dark themes alike.
namespace StatusTint {

// The tint of a Status cell holding `status`; an invalid colour when that status is not tinted.
QColor tint(const QString &status, const QPalette &palette);
// The legend shown as the Status cells' tooltip: each tint with what it means.
QString legend(const QPalette &palette);

} // namespace StatusTint

// Paints the results list's Status column with the tints, and shows the legend as its tooltip,
// while the table holds the registries' summary columns (not the web sites' record fields).
class StatusDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    StatusDelegate(const ResultsTable &table, QObject *parent);

    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;

private:
    bool isStatusCell(const QModelIndex &index) const;

    const ResultsTable &m_table;
};
