#pragma once

#include "packing/Batch.h"

#include <QWidget>
#include <vector>

class QTableWidget;

// 选择批次: the line's batches a station may take at Start, one row each (number,
// product, lot, expiry, planned, packed, state), the one this station packed last
// first and highlighted. Enter takes the highlighted batch (taken), Esc goes back
// to the setup window; either closes the window.
class frm_BATCH : public QWidget
{
    Q_OBJECT
public:
    // first: the number of the batch listed first ("" for none).
    frm_BATCH(std::vector<Batch> batches, const QString &first, const QString &title, QWidget *parent = nullptr);

    const std::vector<Batch> &batches() const { return m_batches; }

signals:
    void taken(const Batch &batch);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void takeHighlighted();

    std::vector<Batch> m_batches;
    QTableWidget *grdBatch;
};
