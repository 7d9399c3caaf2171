#include "ui/setup/frm_BATCH.h"

#include "platform/qtwidgets/Twips.h"
#include "ui/ProgramIcon.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QTableWidget>
#include <algorithm>

frm_BATCH::frm_BATCH(std::vector<Batch> batches, const QString &first, const QString &title, QWidget *parent)
    : QWidget(parent), m_batches(std::move(batches))
{
    setObjectName(QStringLiteral("frm_BATCH"));
    setWindowTitle(title);
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    setWindowModality(Qt::ApplicationModal); // Start waits for the choice: the setup window is not clicked meanwhile
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(programIcon());
    setFixedSize(twips::size(9330, 6600));
    twips::paintBackground(this, Qt::white);
    twips::titleBand(this, QStringLiteral("选择批次"), 0, 0, 9375, 1005);

    // The batch this station packed last comes first; the others keep the record's order.
    std::stable_partition(m_batches.begin(), m_batches.end(), [&](const Batch &b) { return b.number == first; });

    grdBatch = new QTableWidget(int(m_batches.size()), 7, this);
    grdBatch->setObjectName(QStringLiteral("grdBatch"));
    grdBatch->setGeometry(twips::rect(120, 1125, 9090, 5355));
    grdBatch->setFont(twips::font({QStringLiteral("宋体"), QStringLiteral("SimSun")}, 10.5, false));
    grdBatch->setHorizontalHeaderLabels({QStringLiteral("批次号"), QStringLiteral("产品"), QStringLiteral("批号"), QStringLiteral("有效期"),
                                         QStringLiteral("计划"), QStringLiteral("已装"), QStringLiteral("状态")});
    grdBatch->verticalHeader()->hide();
    grdBatch->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdBatch->setSelectionMode(QAbstractItemView::SingleSelection);
    grdBatch->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdBatch->setTabKeyNavigation(false);
    for (int r = 0; r < int(m_batches.size()); ++r) {
        const Batch &b = m_batches[size_t(r)];
        const QString cells[] = {b.number, b.gtin, b.lot, b.expiry, QString::number(b.planned), QString::number(b.packed),
                                 batchstate::shown(b.state)};
        for (int c = 0; c < 7; ++c)
            grdBatch->setItem(r, c, new QTableWidgetItem(cells[c]));
    }
    grdBatch->resizeColumnsToContents();
    grdBatch->horizontalHeader()->setStretchLastSection(true);
    if (!m_batches.empty())
        grdBatch->selectRow(0);
    grdBatch->setFocus(Qt::OtherFocusReason);
    setFocusProxy(grdBatch);
}

void frm_BATCH::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        takeHighlighted();
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void frm_BATCH::takeHighlighted()
{
    const int row = grdBatch->currentRow();
    if (row < 0 || row >= int(m_batches.size()))
        return;
    // Start goes on once this key's handling is over (it may wait in event loops of its own),
    // with this window out of its way; the window goes after it.
    const Batch chosen = m_batches[size_t(row)];
    hide();
    QMetaObject::invokeMethod(
        this,
        [this, chosen] {
            emit taken(chosen);
            close();
        },
        Qt::QueuedConnection);
}
