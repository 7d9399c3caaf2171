#pragma once

#include "platform/RecordGrid.h"

#include <QAbstractTableModel>

class QTableView;

// The list as a read-only table model over the open box; a QTableView shows it
// when the scan window has one.
class QtRecordGrid : public QAbstractTableModel, public RecordGrid
{
    Q_OBJECT
public:
    static constexpr int kColumns = 3;
    static constexpr int kRowHeightTwips = 360;

    explicit QtRecordGrid(QObject *parent = nullptr);

    // The view that shows this grid; may be left unset (benchmarks, logic tests).
    void attachView(QTableView *view);
    // The scan window's set-up of the list, run at every load.
    void setUpForScanning();

    void showRows(const RecordSource *source) override;
    void rowAppended(int32_t row) override;
    void rowRemoved(int32_t row) override;
    void reset() override;
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

    const RecordSource *m_source = nullptr;
    QTableView *m_view = nullptr;
    bool m_followNewRows = false;
};
