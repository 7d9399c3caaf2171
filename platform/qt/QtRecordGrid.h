#pragma once

#include "platform/RecordGrid.h"

#include <QAbstractTableModel>
#include <array>
#include <vector>

class QTableView;

// The record grid as a table model; a QTableView shows it when the scan window has one.
class QtRecordGrid : public QAbstractTableModel, public RecordGrid
{
    Q_OBJECT
public:
    static constexpr int kColumns = 3;

    explicit QtRecordGrid(QObject *parent = nullptr);

    // The view that shows this grid; may be left unset (benchmarks, logic tests).
    void attachView(QTableView *view);
    // The scan window's set-up of the list, run at every load.
    void setUpForScanning();

    int32_t rowCount() const override { return int32_t(m_rows.size()); }
    void setRowCount(int32_t count) override;
    void appendRow(const QString &tabJoinedFields) override;
    void removeRow(int32_t row) override;
    QString cellText(int32_t row, int32_t column) const override;
    void clear() override;
    void setAllRowsHeight(int twips) override;

    int rowCount(const QModelIndex &parent) const override;
    int columnCount(const QModelIndex &parent) const override;
    QVariant data(const QModelIndex &index, int role) const override;

private:
    void selectWholeRows();
    void dropCurrentCell();
    void paintEmptyAreaWith(int red, int green, int blue);
    void setColumnWidthTwips(int column, int twips);
    void showGridLines();
    void makeReadOnly();
    void hideHeaders();
    void followNewRows();
    void limitColumnWidthTwips(int twips);
    void stretchLastColumn();
    void setListFont(const QString &family, int points, bool bold);

    std::vector<std::array<QString, kColumns>> m_rows;
    QTableView *m_view = nullptr;
    bool m_followNewRows = false;
};
