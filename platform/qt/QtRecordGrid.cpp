#include "platform/qt/QtRecordGrid.h"

#include "core/RuntimeError.h"

#include <QHeaderView>
#include <QPalette>
#include <QTableView>

namespace {
int twipsToPixels(int twips)
{
    return twips / 15;
}

RuntimeError subscriptError(const QString &source)
{
    return RuntimeError(381, source, QStringLiteral("下标越界（Subscript out of range）"));
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
    setRowCount(0);
    stretchLastColumn();
    setListFont(QStringLiteral("arial"), 12, true);
}

void QtRecordGrid::setRowCount(int32_t count)
{
    if (count != 0)
        throw RuntimeError(RuntimeError::InvalidProcedureCall, QStringLiteral("fg1.Rows"),
                           QStringLiteral("只能设置空清单"));
    clear();
}

void QtRecordGrid::appendRow(const QString &tabJoinedFields)
{
    std::array<QString, kColumns> row;
    const QStringList fields = tabJoinedFields.split(QLatin1Char('\t'));
    for (int k = 0; k < kColumns && k < fields.size(); ++k)
        row[k] = fields[k];
    const int index = int(m_rows.size());
    beginInsertRows(QModelIndex(), index, index);
    m_rows.push_back(std::move(row));
    endInsertRows();
    if (m_view && m_followNewRows)
        m_view->scrollToBottom();
}

void QtRecordGrid::removeRow(int32_t row)
{
    if (row < 0 || row >= rowCount())
        throw subscriptError(QStringLiteral("fg1.RemoveItem"));
    beginRemoveRows(QModelIndex(), row, row);
    m_rows.erase(m_rows.begin() + row);
    endRemoveRows();
}

QString QtRecordGrid::cellText(int32_t row, int32_t column) const
{
    if (row < 0 || row >= rowCount() || column < 0 || column >= kColumns)
        throw subscriptError(QStringLiteral("fg1.TextMatrix"));
    return m_rows[size_t(row)][size_t(column)];
}

void QtRecordGrid::clear()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

void QtRecordGrid::setAllRowsHeight(int twips)
{
    if (m_view)
        m_view->verticalHeader()->setDefaultSectionSize(twipsToPixels(twips));
}

int QtRecordGrid::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int QtRecordGrid::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : kColumns;
}

QVariant QtRecordGrid::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid())
        return {};
    return m_rows[size_t(index.row())][size_t(index.column())];
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
