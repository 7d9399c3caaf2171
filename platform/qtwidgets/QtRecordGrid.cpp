#include "platform/qtwidgets/QtRecordGrid.h"

#include <QHeaderView>
#include <QPalette>
#include <QTableView>

namespace {
int twipsToPixels(int twips)
{
    return twips / 15;
}

} // namespace

QtRecordGrid::QtRecordGrid(QObject *parent) : QAbstractTableModel(parent) {}

void QtRecordGrid::attachView(QTableView *view)
{
    m_view = view;
    m_view->setModel(this);
}

void QtRecordGrid::setUpForScanning()
{
    selectWholeRows();
    dropCurrentCell();
    paintEmptyAreaWith(255, 220, 120);
    for (int column = 0; column < kColumns; ++column)
        setColumnWidthTwips(column, 2000);
    showGridLines();
    makeReadOnly();
    hideHeaders();
    followNewRows();
    limitColumnWidthTwips(5600);
    stretchLastColumn();
    setListFont(QStringLiteral("arial"), 12, true);
    setAllRowsHeight(kRowHeightTwips);
}

void QtRecordGrid::showRows(const RecordSource *source)
{
    beginResetModel();
    m_source = source;
    endResetModel();
}

void QtRecordGrid::rowAppended(int32_t row)
{
    beginInsertRows(QModelIndex(), row, row);
    endInsertRows();
    if (m_view && m_followNewRows)
        m_view->scrollToBottom();
}

void QtRecordGrid::rowRemoved(int32_t row)
{
    // The source has already dropped it; the view only learns of it now.
    beginRemoveRows(QModelIndex(), row, row);
    endRemoveRows();
}

void QtRecordGrid::reset()
{
    beginResetModel();
    endResetModel();
    if (m_view && m_followNewRows)
        m_view->scrollToBottom();
}

void QtRecordGrid::setAllRowsHeight(int twips)
{
    if (!m_view)
        return;
    // The font would otherwise make the rows taller than asked.
    QHeaderView *rows = m_view->verticalHeader();
    rows->setMinimumSectionSize(twipsToPixels(twips));
    rows->setDefaultSectionSize(twipsToPixels(twips));
    rows->setSectionResizeMode(QHeaderView::Fixed);
}

int QtRecordGrid::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() || !m_source ? 0 : int(m_source->rowCount());
}

int QtRecordGrid::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : kColumns;
}

QVariant QtRecordGrid::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || !m_source)
        return {};
    return m_source->cellText(index.row(), index.column());
}

void QtRecordGrid::selectWholeRows()
{
    if (m_view)
        m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
}

void QtRecordGrid::dropCurrentCell()
{
    if (m_view)
        m_view->clearSelection();
}

void QtRecordGrid::paintEmptyAreaWith(int red, int green, int blue)
{
    if (!m_view)
        return;
    // The area below the last row takes the colour; the rows stay white.
    QPalette palette = m_view->palette();
    palette.setColor(QPalette::Window, QColor(red, green, blue));
    palette.setColor(QPalette::Base, QColor(red, green, blue));
    m_view->setPalette(palette);
    m_view->setStyleSheet(QStringLiteral("QTableView::item { background: white; color: black; }"));
}

void QtRecordGrid::setColumnWidthTwips(int column, int twips)
{
    if (m_view)
        m_view->setColumnWidth(column, twipsToPixels(twips));
}

void QtRecordGrid::showGridLines()
{
    if (m_view)
        m_view->setShowGrid(true);
}

void QtRecordGrid::makeReadOnly()
{
    if (m_view)
        m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void QtRecordGrid::hideHeaders()
{
    if (!m_view)
        return;
    m_view->horizontalHeader()->hide();
    m_view->verticalHeader()->hide();
}

void QtRecordGrid::followNewRows()
{
    m_followNewRows = true;
}

void QtRecordGrid::limitColumnWidthTwips(int twips)
{
    if (m_view)
        m_view->horizontalHeader()->setMaximumSectionSize(twipsToPixels(twips));
}

void QtRecordGrid::stretchLastColumn()
{
    if (m_view)
        m_view->horizontalHeader()->setStretchLastSection(true);
}

void QtRecordGrid::setListFont(const QString &family, int points, bool bold)
{
    if (!m_view)
        return;
    QFont font(family, points);
    font.setBold(bold);
    m_view->setFont(font);
}
