#include "ui/setup/frm_MAIN.h"

#include "core/RuntimeError.h"
#include "core/TextNumber.h"
#include "packing/PackingState.h"
#include "platform/MessageBox.h"
#include "platform/ProgramEnvironment.h"
#include "settings/StationSettings.h"
#include "ui/scan/frm_SCAN.h"
#include "ui/ProgramIcon.h"
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
    }
    if (m_scan) {
        startrules::saveDigitCounts(fields(), operatorMessages());
        startrules::journalNewJob(m_scan->box(), state, operatorMessages());
    } else {
        // The digit counts are saved once the scan window stands: a folder the station
        // cannot write is then told once, by the window that could not open.
        if (!openScanWindow(kept.box))
            return;
        startrules::saveDigitCounts(fields(), operatorMessages());
    }
    showScanWindow();
}

bool frm_MAIN::openScanWindow(const std::optional<BoxJournal::Saved> &kept)
{
    m_scan = new frm_SCAN(std::make_unique<ScanSession>(m_parts));
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
    m_scan->move(pos()); // where the setup window is: a station's windows stay together on a shared screen
    m_scan->show();
    m_scan->raise();
    m_scan->activateWindow();
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
