#include "station/frm_SCAN.h"

#include "core/TextNumber.h"
#include "packing/PackingState.h"
#include "platform/EventPump.h"
#include "platform/MessageBox.h"
#include "platform/ProgramEnvironment.h"
#include "settings/StationSettings.h"
#include "platform/Sound.h"
#include "station/StatusPanel.h"
#include "core/SystemReason.h"
#include "platform/qt/Twips.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>

frm_SCAN::frm_SCAN(BoxExport &boxExport, QWidget *parent)
    : QWidget(parent), m_journal(program::folder()), m_intake(packingState(), m_box, operatorMessages(), boxExport)
{
    m_box.setLog(&m_journal);
    setObjectName(QStringLiteral("frm_SCAN"));
    buildControls();
    connect(&MSComm1, &SerialPort::onComm, this, &frm_SCAN::MSComm1_OnComm);
    m_reconnect.setInterval(kReconnectIntervalMs);
    connect(&m_reconnect, &QTimer::timeout, this, &frm_SCAN::tryReconnect);
}

frm_SCAN::~frm_SCAN() = default;

void frm_SCAN::buildControls()
{
    setWindowTitle(QStringLiteral("Zantrel系统V1.0"));
    setFixedSize(twips::size(9300, 8355));
    twips::paintBackground(this, Qt::white);
    setFont(twips::font({QStringLiteral("宋体"), QStringLiteral("SimSun")}, 15.75, false));

    lblTitle = twips::titleBand(this, QStringLiteral("扫描条码"), 0, 0, 9420, 1005);

    cmdCancel = new QPushButton(QStringLiteral("退出"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setGeometry(twips::rect(6840, 6960, 2295, 1020));
    cmdCancel->setFont(twips::font({QStringLiteral("Arial")}, 26.25, true));
    cmdCancel->setAutoDefault(false);
    connect(cmdCancel, &QPushButton::clicked, this, &frm_SCAN::cmdCancel_Click);

    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(twips::rect(120, 1080, 6375, 735));
    Text1->setFont(twips::font({QStringLiteral("Arial")}, 24, true));

    fg1 = new QTableView(this);
    fg1->setObjectName(QStringLiteral("fg1"));
    fg1->setGeometry(twips::rect(120, 1920, 6255, 6135));
    m_grid.attachView(fg1);
    m_box.setView(&m_grid);

    // Tab goes round 退出, Text1 and the list; the list does not keep it for its cells.
    fg1->setTabKeyNavigation(false);
    setTabOrder(cmdCancel, Text1);
    setTabOrder(Text1, fg1);
    setTabOrder(fg1, cmdCancel);

    m_status = new StatusPanel(this);
    m_status->setGeometry(twips::rect(6480, 1920, 2700, 4920));
}

void frm_SCAN::Form_Load()
{
    Text1->setText(QString());
    m_grid.setUpForScanning();
    handleWaitingEvents();

    const settings::ScanSettings read = settings::readScanSettings();
    if (read.innerLen)
        packingState().iInnerLen = *read.innerLen;
    if (read.port)
        iPort1 = *read.port;
    m_intake.sCfMode = read.cfMode;
    m_intake.recordRefusalsIn(QDir(program::folder()).filePath(QStringLiteral("files")));
    if (read.dayWide) {
        m_dayIndex.load(program::folder(), program::now().date());
        m_intake.checkWholeDay(&m_dayIndex);
    }
    Stime = read.stime;
    if (!read.problems.isEmpty())
        operatorMessages().show(QStringLiteral("配置文件 %1 中的设置无效：\n%2\n%3请改正后关闭本窗口并重新点击“开始”。")
                                    .arg(settings::displayPath(), read.problems.join(QLatin1Char('\n')),
                                         read.scanningPossible() ? QString() : QStringLiteral("扫描枪串口未打开，不会记录任何扫描。")));
    // With any of these unusable every scan would fail or wait for minutes: the port stays closed.
    if (read.scanningPossible()) {
        MSComm1.setCommPort(int16_t(iPort1));
        MSComm1.setRThreshold(1);
        if (const std::optional<RuntimeError> failure = OpenPort())
            reportPortProblem(failure->description());
    }
    refreshStatus();
}

void frm_SCAN::refreshStatus()
{
    QString middle;
    for (auto row = m_box.rows().rbegin(); row != m_box.rows().rend() && middle.isEmpty(); ++row)
        if (row->kind == BoxRow::MiddleLabel)
            middle = row->text;
    m_status->showLabels(m_box.outerLabel(), middle);
    m_status->showPacks(m_box.iInnerCount(), packingState().iPerOuter);
    if (m_box.exportPending()) {
        m_status->showLastBox(QStringLiteral("外箱 %1 等待写入工作簿：%2").arg(m_box.outerLabel(), m_exportFailure));
    } else if (const std::optional<ExportReceipt> &last = m_intake.lastExport()) {
        m_status->showLastBox(QStringLiteral("上一箱 %1 已写入 %2（%3）")
                                  .arg(last->outerLabel, QFileInfo(last->workbook).fileName(),
                                       last->at.toString(QStringLiteral("HH:mm:ss"))));
    } else {
        m_status->showLastBox(QStringLiteral("上一箱：尚无"));
    }
    if (MSComm1.portOpen()) {
        const QFileInfo device(MSComm1.devicePath());
        m_status->showScanner(QStringLiteral("扫描枪 COM%1 → %2")
                                  .arg(MSComm1.commPort())
                                  .arg(device.isSymLink() ? device.symLinkTarget() : device.absoluteFilePath()));
    } else {
        m_status->showScanner(QStringLiteral("扫描枪 COM%1 未连接").arg(MSComm1.commPort()));
    }
}

bool frm_SCAN::startBox(const std::optional<BoxJournal::Saved> &kept)
{
    const PackingState &state = packingState();
    try {
        // The journal first: it still holds the kept box if this fails.
        if (kept) {
            const std::optional<PackingJob> job = kept->job ? kept->job : std::optional<PackingJob>(PackingJob::of(state));
            m_journal.startWith(kept->rows, kept->exportPending, state.lMiddleNo, state.lOuterNo, job, kept->target);
            m_box.restore(kept->rows, kept->exportPending, job, kept->target);
        } else {
            m_journal.startWith({}, false, state.lMiddleNo, state.lOuterNo);
        }
    } catch (const RuntimeError &e) {
        m_box.restore({}, false);
        operatorSounds().play(Sound::Refused);
        operatorMessages().show(kept ? QStringLiteral("无法继续上次的外箱 %1：%2\n它仍保留在记录中，扫描窗口未打开。").arg(kept->outerLabel(), e.description())
                                     : QStringLiteral("无法写入当前外箱记录：%1\n扫描窗口未打开。").arg(e.description()));
        return false;
    }
    try {
        m_intake.exportIfFull();
    } catch (const RuntimeError &e) {
        m_exportFailure = e.description();
        operatorSounds().play(Sound::Refused);
        operatorMessages().show(QStringLiteral("上次的整箱未能写入工作簿：%1").arg(e.description()));
    }
    refreshStatus();
    return true;
}

std::optional<RuntimeError> frm_SCAN::OpenPort()
{
    try {
        if (MSComm1.portOpen())
            MSComm1.setPortOpen(false);
        MSComm1.setPortOpen(true);
        m_reconnect.stop();
        return std::nullopt;
    } catch (const RuntimeError &e) {
        return e; // the caller decides what the operator is told
    }
}

void frm_SCAN::MSComm1_OnComm()
{
    const int kind = MSComm1.commEvent();
    if (kind == SerialPort::DeviceGone) {
        reportPortProblem(QStringLiteral("COM%1（%2）：%3").arg(MSComm1.commPort()).arg(MSComm1.devicePath(), reason::deviceGone()));
        MSComm1.setRThreshold(1);
        return;
    }
    // A scan is already being handled further up this call chain; its read takes these characters.
    if (kind != SerialPort::Received || m_handlingScan) {
        MSComm1.setRThreshold(1);
        return;
    }
    m_handlingScan = true;
    try {
        MSComm1.setRThreshold(0);
        if (!m_waiter)
            m_waiter = std::make_unique<clsWait>();
        m_waiter->Wait(textnum::toInt32(Stime));
        const QString text = MSComm1.input();
        m_intake.receive(text, MSComm1.takeDropped());
        MSComm1.setRThreshold(1);
    } catch (const RuntimeError &e) {
        errorPath(e);
    }
    m_handlingScan = false;
    refreshStatus();
    if (m_closeWhenIdle)
        close();
}

void frm_SCAN::errorPath(const RuntimeError &error)
{
    if (m_intake.exportPending())
        m_exportFailure = error.description();
    operatorSounds().play(Sound::Refused);
    const QString outcome = m_intake.lastScanListed()
                                ? QStringLiteral("本次扫描的条码已列入清单。")
                                : QStringLiteral("本次扫描的条码没有记录，请重新扫描该内包。");
    operatorMessages().show(QStringLiteral("扫描处理失败：%1\n%2\n清单中已有的条码都保留。")
                                .arg(error.description(), outcome));
    if (const std::optional<RuntimeError> failure = OpenPort())
        reportPortProblem(failure->description());
    MSComm1.setRThreshold(1);
}

void frm_SCAN::reportPortProblem(const QString &what)
{
    // Told once; the port is then looked for every second until it is back.
    if (m_reconnect.isActive())
        return;
    m_reconnect.start();
    refreshStatus();
    operatorMessages().show(QStringLiteral("无法使用扫描枪串口 %1\n扫描枪重新连接后将自动恢复，无需重新启动。").arg(what));
}

void frm_SCAN::tryReconnect()
{
    if (MSComm1.portOpen()) {
        m_reconnect.stop();
        return;
    }
    try {
        MSComm1.setPortOpen(true);
        MSComm1.setRThreshold(1);
        m_reconnect.stop();
        refreshStatus();
    } catch (const RuntimeError &) {
        // Still absent: already reported once; the timer looks again.
    }
}

void frm_SCAN::cmdCancel_Click()
{
    program::endNow();
}

void frm_SCAN::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    handleWaitingEvents();
}

void frm_SCAN::closeEvent(QCloseEvent *event)
{
    // Closed from inside a scan's wait or message: the handling further up the stack
    // still uses this window, so it goes away once that handling has ended.
    if (m_handlingScan) {
        event->ignore();
        hide();
        m_closeWhenIdle = true;
        return;
    }
    QWidget::closeEvent(event);
}

void frm_SCAN::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        cmdCancel->setFocus(Qt::OtherFocusReason);
    }
}
