#include "ui/scan/frm_SCAN.h"

#include "core/TextNumber.h"
#include "packing/PackingState.h"
#include "platform/EventPump.h"
#include "platform/MessageBox.h"
#include "platform/ProgramEnvironment.h"
#include "settings/StationSettings.h"
#include "platform/Sound.h"
#include "ui/scan/StatusPanel.h"
#include "ui/setup/frm_LOGIN.h"
#include "ui/WindowPlacement.h"
#include "core/SystemReason.h"
#include "platform/qtwidgets/Twips.h"
#include "station/ports/LabelHandoff.h"
#include "station/ports/PlantHandoff.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QApplication>
#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>
#include <QPushButton>
#include <QTableView>

frm_SCAN::frm_SCAN(std::unique_ptr<ScanSession> session, QWidget *parent)
    : QWidget(parent), m_session(std::move(session))
{
    setObjectName(QStringLiteral("frm_SCAN"));
    buildControls();
    connect(&m_session->link().port(), &SerialPort::onComm, this, &frm_SCAN::MSComm1_OnComm);
    connect(&m_session->link(), &ScannerLink::changed, this, &frm_SCAN::refreshStatus);
    m_backgroundWatch.setInterval(1000);
    connect(&m_backgroundWatch, &QTimer::timeout, this, &frm_SCAN::watchBackgroundWork);
    if (m_session->plant() || m_session->labels())
        m_backgroundWatch.start();
    if (m_session->operators()) {
        // F12 is 交接班: the next operator logs in and the open box goes on.
        auto *shift = new QShortcut(QKeySequence(Qt::Key_F12), this);
        shift->setContext(Qt::WindowShortcut);
        connect(shift, &QShortcut::activated, this, &frm_SCAN::handOver);
        m_idle.setSingleShot(true);
        m_idle.setInterval(std::max(1, m_session->lockAfterMs()));
        connect(&m_idle, &QTimer::timeout, this, &frm_SCAN::lockUp);
        m_idle.start();
        qApp->installEventFilter(this);
    }
    // F8 closes a box short: the end of a lot or a shift.
    auto *closeShort = new QShortcut(QKeySequence(Qt::Key_F8), this);
    closeShort->setContext(Qt::WindowShortcut);
    connect(closeShort, &QShortcut::activated, this, [this] {
        m_session->closeShortBox();
        refreshStatus();
        if (m_closeWhenIdle)
            close(); // closed while the question was up
    });
    if (m_session->labels()) {
        // F9 prints the last outer label again; the panel's print line says so.
        auto *reprint = new QShortcut(QKeySequence(Qt::Key_F9), this);
        reprint->setContext(Qt::WindowShortcut);
        connect(reprint, &QShortcut::activated, this, [this] {
            m_session->labels()->reprintLast();
            refreshStatus();
        });
    }
}

frm_SCAN::~frm_SCAN() = default;

void frm_SCAN::buildControls()
{
    // Two stations on one screen are told apart by their titles.
    showTitle({});
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
    m_session->showIn(&m_grid);

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
    // The plant record's answer is waited for like the settle time: the window stays alive.
    m_session->configure(read);
    if (!read.problems.isEmpty())
        operatorMessages().show(QStringLiteral("配置文件 %1 中的设置无效：\n%2\n%3请改正后关闭本窗口并重新点击“开始”。")
                                    .arg(settings::displayPath(), read.problems.join(QLatin1Char('\n')),
                                         read.scanningPossible() ? QString() : QStringLiteral("扫描枪串口未打开，不会记录任何扫描。")));
    // With any of these unusable every scan would fail or wait for minutes: the port stays closed.
    if (read.scanningPossible())
        m_session->openPort(int16_t(iPort1));
    refreshStatus();
}

void frm_SCAN::refreshStatus()
{
    const ScanSession::Status status = m_session->status();
    m_status->showLabels(status.outerLabel, status.middleLabel);
    m_status->showPacks(status.packs, status.perOuter);
    m_status->showLastBox(status.lastBox);
    m_status->showScanner(m_session->link().describe());
    m_status->showPlantRecord(status.plantRecord);
    m_status->showAlarm(status.alarm);
    m_status->showPrint(status.print);
    m_status->showKeys(status.keys);
    m_status->showBatch(status.batch, status.overPlan);
    m_status->showOperator(status.onDuty);
    showTitle(status);
    if (PlantHandoff *plant = m_session->plant())
        plant->packing({status.outerLabel, status.gtin, status.lot, status.batchNumber});
}

void frm_SCAN::showTitle(const ScanSession::Status &status)
{
    // Two stations on one screen are told apart by their titles; a batch's count is seen from afar.
    QString title = QStringLiteral("Zantrel系统V1.0");
    if (!m_session->stationName().isEmpty())
        title += QStringLiteral(" — %1").arg(m_session->stationName());
    if (!status.batch.isEmpty())
        title += QStringLiteral(" — %1").arg(QString(status.batch).replace(QLatin1Char('\n'), QStringLiteral("，")));
    if (!status.onDuty.isEmpty())
        title += QStringLiteral(" — %1").arg(status.onDuty);
    if (title != windowTitle())
        setWindowTitle(title);
}

void frm_SCAN::watchBackgroundWork()
{
    if (m_session->handlingScan())
        return;
    if (LabelHandoff *labels = m_session->labels())
        m_status->showPrint(labels->stateLine());
    if (!m_session->plant())
        return;
    if (m_session->batches()) {
        m_session->refreshBatch();
        const ScanSession::Status status = m_session->status();
        m_status->showBatch(status.batch, status.overPlan);
        showTitle(status);
    }
    m_status->showPlantRecord(m_session->plantRecordLine());
    m_status->showAlarm(m_session->alarm());
    const QString notice = m_session->plant()->takeNotice();
    if (!notice.isEmpty())
        operatorMessages().show(notice);
}

bool frm_SCAN::startBox(const std::optional<BoxJournal::Saved> &kept)
{
    const bool started = m_session->startBox(kept);
    refreshStatus();
    return started;
}

void frm_SCAN::handOver()
{
    if (m_loginWindow || !m_session->operators())
        return;
    auto *window = new frm_LOGIN(*m_session->operators(), windowTitle());
    m_loginWindow = window;
    connect(window, &frm_LOGIN::loggedIn, this, [this](const OnDuty &who) {
        m_session->setOperator(who);
        m_session->intake().setLocked(false);
        stillThere();
        refreshStatus();
    });
    showWhere(window, this);
}

void frm_SCAN::lockUp()
{
    if (m_session->handlingScan()) {
        m_idle.start(); // a scan's message is up: someone is there
        return;
    }
    m_session->intake().setLocked(true);
    refreshStatus();
}

void frm_SCAN::stillThere()
{
    if (m_session->operators() && !m_session->intake().locked())
        m_idle.start();
}

bool frm_SCAN::eventFilter(QObject *watched, QEvent *event)
{
    // A key anywhere in this window, whichever of its controls has the focus; at a locked
    // window not even F8 or F9 does what it does, it opens the login.
    if (event->type() == QEvent::ShortcutOverride && m_session->intake().locked() && watched->isWidgetType()
        && static_cast<QWidget *>(watched)->window() == this) {
        event->accept();
        return true;
    }
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() && static_cast<QWidget *>(watched)->window() == this) {
        if (m_session->intake().locked()) {
            handOver(); // any key opens the login
            return true;
        }
        stillThere();
    }
    return QWidget::eventFilter(watched, event);
}

void frm_SCAN::MSComm1_OnComm()
{
    stillThere(); // a scan: someone is there
    m_session->MSComm1_OnComm();
    if (m_session->handlingScan())
        return; // a nested event: the scan further up ends the handling
    refreshStatus();
    if (m_closeWhenIdle)
        close();
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
    if (m_session->handlingScan()) {
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
