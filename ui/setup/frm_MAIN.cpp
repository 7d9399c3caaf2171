#include "ui/setup/frm_MAIN.h"

#include "core/RuntimeError.h"
#include "core/TextNumber.h"
#include "packing/PackingState.h"
#include "platform/MessageBox.h"
#include "platform/ProgramEnvironment.h"
#include "settings/StationSettings.h"
#include "ui/scan/frm_SCAN.h"
#include "ui/setup/frm_BATCH.h"
#include "ui/setup/frm_LOGIN.h"
#include "ui/ProgramIcon.h"
#include "ui/WindowPlacement.h"
#include "station/ports/BatchSource.h"
#include "station/ports/LabelHandoff.h"
#include "station/StartChecks.h"
#include "station/StartRules.h"
#include "platform/qtwidgets/Twips.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

namespace {

constexpr int kFirstRowTop = 1200;
constexpr int kRowStep = 720;

} // namespace

frm_MAIN::frm_MAIN(const ScanSession::Parts &parts, QWidget *parent) : QWidget(parent), m_parts(parts)
{
    setObjectName(QStringLiteral("frm_MAIN"));
    setWindowTitle(QStringLiteral("Zantrel系统V1.0"));
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    setWindowIcon(programIcon());
    setFixedSize(twips::size(9330, 8400));
    twips::paintBackground(this, Qt::white);

    lblTitle = twips::titleBand(this, QStringLiteral("初始设置"), 0, 0, 9375, 1005);

    Text5 = addRow(5, 2535, QStringLiteral("中箱包装数量："), QStringLiteral("Text5"), 0, QStringLiteral("2"));
    Text6 = addRow(4, 2775, QStringLiteral("外箱包装数量："), QStringLiteral("Text6"), 1, QStringLiteral("10"));
    Text2 = addRow(2, 1695, QStringLiteral("中箱前缀："), QStringLiteral("Text2"), 2, QString());
    Text3 = addRow(1, 1695, QStringLiteral("中箱后缀："), QStringLiteral("Text3"), 3, QString());
    Text4 = addRow(3, 2535, QStringLiteral("中箱序号长度："), QStringLiteral("Text4"), 4, QString());
    Text9 = addRow(8, 2535, QStringLiteral("中箱序号："), QStringLiteral("Text9"), 5, QStringLiteral("1"));
    Text7 = addRow(6, 1695, QStringLiteral("外箱前缀："), QStringLiteral("Text7"), 6, QString());
    Text8 = addRow(7, 1695, QStringLiteral("外箱后缀："), QStringLiteral("Text8"), 7, QString());
    Text1 = addRow(0, 2415, QStringLiteral("外箱序号长度："), QStringLiteral("Text1"), 8, QString());
    Text10 = addRow(9, 2535, QStringLiteral("外箱序号："), QStringLiteral("Text10"), 9, QStringLiteral("1"));

    auto button = [this](const char *name, const QString &caption, int top) {
        auto *b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(twips::rect(6840, top, 2295, 1020));
        b->setFont(twips::font({QStringLiteral("Arial")}, 26.25, true));
        b->setAutoDefault(false);
        b->setDefault(false);
        return b;
    };
    cmdOK = button("cmdOK", QStringLiteral("开始"), 5880);
    cmdCancel = button("cmdCancel", QStringLiteral("退出"), 7080);
    connect(cmdOK, &QPushButton::clicked, this, &frm_MAIN::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frm_MAIN::cmdCancel_Click);

    const QList<QWidget *> order = {cmdOK, cmdCancel, Text2, Text3, Text5, Text6, Text7, Text8, Text1, Text4, Text9, Text10};
    for (qsizetype i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order[i], order[i + 1]);

    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

frm_MAIN::~frm_MAIN()
{
    delete m_scan; // a scan window still open goes with the program's last window
}

QLineEdit *frm_MAIN::addRow(int labelIndex, int labelWidth, const QString &caption, const QString &textName, int row,
                            const QString &initialText)
{
    const int top = kFirstRowTop + row * kRowStep;
    const QFont font = twips::font({QStringLiteral("Arial")}, 15.75, false);
    auto *label = new QLabel(caption, this);
    label->setObjectName(QStringLiteral("label1(%1)").arg(labelIndex));
    label->setGeometry(twips::rect(240, top, labelWidth, 495));
    label->setFont(font);
    twips::paintBackground(label, QGuiApplication::palette().color(QPalette::Base));

    auto *edit = new QLineEdit(initialText, this);
    edit->setObjectName(textName);
    edit->setGeometry(twips::rect(3240, top, 2775, 495));
    edit->setFont(font);
    return edit;
}

void frm_MAIN::Form_Load()
{
    PackingState &state = packingState();
    const settings::DigitSettings digits = settings::readDigitSettings();
    state.iMiddleDigits = digits.middleDigits;
    state.iOuterDigits = digits.outerDigits;
    // A missing or invalid count shows the width the labels use, so Start saves a valid one.
    Text1->setText(digits.outerShown);
    Text2->setText(QString());
    Text3->setText(QString());
    Text4->setText(digits.middleShown);
    // One file that cannot be read is one problem, told once.
    QStringList others;
    for (const QString &problem : std::as_const(m_problemsBefore))
        if (!digits.problems.contains(problem))
            others << problem;
    if (!others.isEmpty())
        operatorMessages().show(QStringLiteral("配置文件 %1 中的设置无效：\n%2").arg(settings::displayPath(), others.join(QLatin1Char('\n'))));
    if (!digits.problems.isEmpty())
        operatorMessages().show(
            QStringLiteral("%1 中的序号长度无效：\n%2\n请确认对应栏中的位数并点击“开始”保存。")
                .arg(settings::displayPath(), digits.problems.join(QLatin1Char('\n'))));
}

startrules::Fields frm_MAIN::fields() const
{
    return {Text5->text(), Text6->text(), Text2->text(), Text3->text(), Text4->text(),
            Text9->text(), Text7->text(), Text8->text(), Text1->text(), Text10->text()};
}

void frm_MAIN::showFields(const startrules::Fields &f)
{
    Text5->setText(f.perMiddle);
    Text6->setText(f.perOuter);
    Text2->setText(f.middlePrefix);
    Text3->setText(f.middleSuffix);
    Text7->setText(f.outerPrefix);
    Text8->setText(f.outerSuffix);
}

void frm_MAIN::cmdOK_Click()
{
    if (!m_parts.operators) {
        startAs();
        return;
    }
    if (m_loginWindow || m_batchWindow)
        return;
    // Whoever starts logs in first.
    auto *window = new frm_LOGIN(*m_parts.operators, windowTitle());
    m_loginWindow = window;
    connect(window, &frm_LOGIN::loggedIn, this, [this](const OnDuty &who) {
        m_onDuty = who;
        startAs();
    });
    showWhere(window, this);
}

void frm_MAIN::startAs()
{
    if (m_parts.batches) {
        chooseBatch();
        return;
    }
    startWith(std::nullopt);
}

QString frm_MAIN::openBoxBatch(const std::optional<BoxJournal::Saved> &kept) const
{
    if (m_scan)
        return m_scan->box().holdsPacks() && m_scan->box().job() ? m_scan->box().job()->sBatch : QString();
    return kept && kept->holdsUnwrittenPacks() && kept->job ? kept->job->sBatch : QString();
}

void frm_MAIN::chooseBatch()
{
    if (m_batchWindow)
        return;
    std::optional<BoxJournal::Saved> kept;
    try {
        kept = BoxJournal::load(m_parts.programFolder);
    } catch (const RuntimeError &) {
        // Unreadable: Start's own checks tell the operator why, once a batch is taken.
    }
    const QString open = openBoxBatch(kept);
    const BatchSource::Offer offer = m_parts.batches->startable(m_parts.batchLine, open);
    if (!offer.reached) {
        // Without the record the station goes on only with the batch it packed last, by
        // the values it kept; it never starts another.
        const std::optional<Batch> last = kept ? kept->batch : std::nullopt;
        if (!last || (!open.isEmpty() && open != last->number)) {
            operatorMessages().show(QStringLiteral("无法连接中央记录，本站没有可以继续的批次，不能开始：%1").arg(offer.why));
            return;
        }
        operatorMessages().show(QStringLiteral("无法连接中央记录：%1\n本站离线继续上一批次 %2%3，按其记录的产品、批号和有效期检查内包；"
                                               "离线时不能开始其他批次。")
                                    .arg(offer.why, last->number, last->lot.isEmpty() ? QString() : QStringLiteral("（批号 %1）").arg(last->lot)));
        Batch going = *last;
        going.state = Batch::State::Running;
        startWith(going);
        return;
    }
    if (offer.batches.empty()) {
        operatorMessages().show(QStringLiteral("本线没有可开始的批次。"));
        return;
    }
    const QString first = !open.isEmpty() ? open : kept && kept->batch ? kept->batch->number : offer.lastPacked;
    auto *window = new frm_BATCH(offer.batches, first, windowTitle());
    m_batchWindow = window;
    connect(window, &frm_BATCH::taken, this, [this, open](const Batch &chosen) {
        if (!open.isEmpty() && chosen.number != open) {
            operatorMessages().show(QStringLiteral("未装完的外箱属于批次 %1：请选择批次 %1 把它装完。").arg(open));
            return;
        }
        startWith(chosen);
    });
    showWhere(window, this);
}

void frm_MAIN::startWith(const std::optional<Batch> &batch)
{
    if (batch && batch->hasSizes()) {
        // The batch's sizes are the box sizes; the operator is told what they replaced.
        const QString middle = QString::number(batch->perMiddle), outer = QString::number(batch->perOuter);
        if (Text5->text() != middle || Text6->text() != outer) {
            operatorMessages().show(QStringLiteral("批次 %1 的包装数量：中箱 %2，外箱 %3（原填 %4、%5），已按批次填入。")
                                        .arg(batch->number, middle, outer, Text5->text(), Text6->text()));
            Text5->setText(middle);
            Text6->setText(outer);
        }
    }
    const startrules::Fields typed = fields();
    PackingState &state = packingState();
    const startrules::Verdict job = startrules::judge(typed, state, m_parts.labels);
    switch (job.kind) {
    case startrules::Verdict::Nothing:
        return;
    case startrules::Verdict::Refused:
        operatorMessages().show(job.why);
        return;
    case startrules::Verdict::MiddleSizeOnly:
        state.iPerMiddle = textnum::toInt16(typed.perMiddle);
        return;
    case startrules::Verdict::Job:
        break;
    }

    // Nothing is copied or saved until the open box is known to be safe.
    PackingState next = state;
    next.sOuterPrefix = typed.outerPrefix;
    next.sOuterSuffix = typed.outerSuffix;
    const startchecks::StartRequest request{m_scan ? &m_scan->box() : nullptr, job.perOuter, job.middleNo, job.outerNo,
                                            next.outerLabelFor(job.outerNo), next.bSscc};
    const startchecks::KeptBox kept = startchecks::beforeStart(m_parts.programFolder, request, m_parts.boxExport,
                                                               m_parts.plant, m_parts.messages);
    if (!kept.goOn)
        return;
    startrules::fieldsInto(state, typed, job);
    state.batch = batch;
    state.sBatch = batch ? batch->number : QString();
    if (kept.box && kept.box->middleNo && kept.box->outerNo) {
        // The continued box's run goes on with its own numbers.
        state.lMiddleNo = *kept.box->middleNo;
        state.lOuterNo = *kept.box->outerNo;
        Text9->setText(textnum::fromInteger(state.lMiddleNo));
        Text10->setText(textnum::fromInteger(state.lOuterNo));
    }
    if (kept.box && kept.box->job) {
        const startrules::TakenUp taken = startrules::takeUpJob(state, *kept.box->job, fields(), kept.box->outerLabel());
        showFields(taken.fields);
        if (!taken.message.isEmpty())
            operatorMessages().show(taken.message);
        state.sBatch = batch ? batch->number : QString(); // the boxes after it are the batch's
    }
    if (m_scan) {
        startrules::saveDigitCounts(fields(), operatorMessages());
        startrules::journalNewJob(m_scan->box(), state, operatorMessages());
        if (batch)
            m_scan->session().takeBatch(*batch);
        if (m_parts.operators)
            m_scan->session().setOperator(m_onDuty);
    } else {
        // The digit counts are saved once the scan window stands: a folder the station
        // cannot write is then told once, by the window that could not open.
        if (!openScanWindow(kept.box))
            return;
        startrules::saveDigitCounts(fields(), operatorMessages());
        if (batch && m_parts.batches)
            m_parts.batches->follow(*batch); // the journal has it from the window's start
    }
    showScanWindow();
}

bool frm_MAIN::openScanWindow(const std::optional<BoxJournal::Saved> &kept)
{
    m_scan = new frm_SCAN(std::make_unique<ScanSession>(m_parts));
    m_scan->session().setOperator(m_onDuty);
    m_scan->setAttribute(Qt::WA_DeleteOnClose);
    m_scan->Form_Load();
    if (!m_scan)
        return false; // closed while its load was showing a message
    if (!m_scan->startBox(kept)) {
        // Never a scan window on a box that is only half back.
        if (m_scan)
            m_scan->close();
        return false;
    }
    return bool(m_scan);
}

void frm_MAIN::showScanWindow()
{
    m_scan->refreshStatus(); // Start may have changed the box size
    showWhere(m_scan, this);
}

void frm_MAIN::cmdCancel_Click()
{
    program::endNow();
}

void frm_MAIN::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        cmdOK->setFocus(Qt::OtherFocusReason);
    }
}
