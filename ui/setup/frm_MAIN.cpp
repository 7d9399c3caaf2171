#include "ui/setup/frm_MAIN.h"

#include "core/RuntimeError.h"
#include "core/TextNumber.h"
#include "packing/PackingJob.h"
#include "packing/PackingState.h"
#include "platform/MessageBox.h"
#include "platform/ProgramEnvironment.h"
#include "settings/ConfigFile.h"
#include "settings/StationSettings.h"
#include "settings/modINI.h"
#include "ui/scan/frm_SCAN.h"
#include "ui/ProgramIcon.h"
#include "station/LabelHandoff.h"
#include "station/StartChecks.h"
#include "platform/qtwidgets/Twips.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

namespace {

constexpr int kFirstRowTop = 1200;
constexpr int kRowStep = 720;

// What a capacity field holds after rounding, when it lies in 1..32767.
std::optional<int16_t> capacity(const QString &text)
{
    const std::optional<int64_t> whole = textnum::tryWhole(text);
    if (!whole || *whole < 1 || *whole > 32767)
        return std::nullopt;
    return int16_t(*whole);
}

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

// Why Start must not go on, or "" when it may. Only fields Start would copy are judged.
QString frm_MAIN::refusal() const
{
    const QString keep = QStringLiteral("\n设置未保存，扫描窗口未打开。");
    if (!capacity(Text5->text()))
        return QStringLiteral("“中箱包装数量”必须在 1 到 32767 之间，现为“%1”。").arg(Text5->text()) + keep;
    if (!textnum::isNumeric(Text6->text()))
        return {};
    if (!capacity(Text6->text()))
        return QStringLiteral("“外箱包装数量”必须在 1 到 32767 之间，现为“%1”。").arg(Text6->text()) + keep;
    if (!textnum::tryInt32(Text9->text()))
        return QStringLiteral("“中箱序号”%1，现为“%2”。").arg(textnum::rangeRule(Text9->text(), INT32_MIN, INT32_MAX), Text9->text()) + keep;
    if (!textnum::tryInt32(Text10->text()))
        return QStringLiteral("“外箱序号”%1，现为“%2”。").arg(textnum::rangeRule(Text10->text(), INT32_MIN, INT32_MAX), Text10->text()) + keep;
    return {};
}

void frm_MAIN::cmdOK_Click()
{
    if (!textnum::isNumeric(Text5->text()))
        return;
    if (const QString why = refusal(); !why.isEmpty()) {
        operatorMessages().show(why);
        return;
    }
    PackingState &state = packingState();
    if (!textnum::isNumeric(Text6->text())) {
        state.iPerMiddle = textnum::toInt16(Text5->text());
        return;
    }
    const int16_t perOuter = textnum::toInt16(Text6->text());
    const int32_t middleNo = textnum::toInt32(Text9->text());
    const int32_t outerNo = textnum::toInt32(Text10->text());
    if (const QString why = labelRefusal(perOuter, middleNo, outerNo); !why.isEmpty()) {
        operatorMessages().show(why + QStringLiteral("\n设置未保存，扫描窗口未打开。"));
        return;
    }

    // Nothing is copied or saved until the open box is known to be safe.
    PackingState typed = state;
    typed.sOuterPrefix = Text7->text();
    typed.sOuterSuffix = Text8->text();
    const startchecks::StartRequest request{m_scan ? &m_scan->box() : nullptr, perOuter, middleNo, outerNo,
                                            typed.outerLabelFor(outerNo)};
    const startchecks::KeptBox kept = startchecks::beforeStart(m_parts.programFolder, request, m_parts.boxExport,
                                                               m_parts.plant, m_parts.messages);
    if (!kept.goOn)
        return;
    copyFields(perOuter, middleNo, outerNo);
    if (kept.box && kept.box->middleNo && kept.box->outerNo) {
        // The continued box's run goes on with its own numbers.
        state.lMiddleNo = *kept.box->middleNo;
        state.lOuterNo = *kept.box->outerNo;
        Text9->setText(textnum::fromInteger(state.lMiddleNo));
        Text10->setText(textnum::fromInteger(state.lOuterNo));
    }
    if (kept.box && kept.box->job)
        takeUpJob(*kept.box->job, kept.box->outerLabel());
    if (m_scan) {
        saveDigitCounts();
        journalNewJob();
    } else {
        // The digit counts are saved once the scan window stands: a folder the station
        // cannot write is then told once, by the window that could not open.
        if (!openScanWindow(kept.box))
            return;
        saveDigitCounts();
    }
    showScanWindow();
}

QString frm_MAIN::labelRefusal(int16_t perOuter, int32_t middleNo, int32_t outerNo) const
{
    // The job as Start would set it, judged before anything is copied.
    PackingState job = packingState();
    fieldsInto(job, perOuter, middleNo, outerNo);
    if (const QString why = job.ssccProblem(outerNo); !why.isEmpty())
        return why;
    if (m_parts.labels)
        if (const QString why = m_parts.labels->misfit(job); !why.isEmpty())
            return QStringLiteral("标签放不下：%1。请改大 config.ini 的 [print] size 或缩短标签内容。").arg(why);
    return {};
}

void frm_MAIN::copyFields(int16_t perOuter, int32_t middleNo, int32_t outerNo)
{
    fieldsInto(packingState(), perOuter, middleNo, outerNo);
}

void frm_MAIN::fieldsInto(PackingState &state, int16_t perOuter, int32_t middleNo, int32_t outerNo) const
{
    state.iPerMiddle = textnum::toInt16(Text5->text());
    state.iPerOuter = perOuter;
    state.sMiddlePrefix = Text2->text();
    state.sMiddleSuffix = Text3->text();
    state.sOuterPrefix = Text7->text();
    state.sOuterSuffix = Text8->text();
    state.lMiddleNo = middleNo;
    state.lOuterNo = outerNo;
}

void frm_MAIN::takeUpJob(const PackingJob &job, const QString &outerLabel)
{
    PackingState &state = packingState();
    const PackingJob typed = PackingJob::of(state);
    job.applyTo(state);
    // The box's own digit counts label that box only (its job carries them); the run
    // goes on with its own, and Start saves what was typed.
    state.iMiddleDigits = typed.middleDigits;
    state.iOuterDigits = typed.outerDigits;
    struct Field
    {
        QLineEdit *edit;
        QString caption;
        QString kept;
        QString typed;
    };
    const QList<Field> fields = {
        {Text5, QStringLiteral("中箱包装数量"), QString::number(job.perMiddle), QString::number(typed.perMiddle)},
        {Text6, QStringLiteral("外箱包装数量"), QString::number(job.perOuter), QString::number(typed.perOuter)},
        {Text2, QStringLiteral("中箱前缀"), job.middlePrefix, typed.middlePrefix},
        {Text3, QStringLiteral("中箱后缀"), job.middleSuffix, typed.middleSuffix},
        {Text7, QStringLiteral("外箱前缀"), job.outerPrefix, typed.outerPrefix},
        {Text8, QStringLiteral("外箱后缀"), job.outerSuffix, typed.outerSuffix},
    };
    QStringList changed;
    for (const Field &field : fields) {
        if (field.kept != field.typed)
            changed << QStringLiteral("%1：“%2”（输入的是“%3”）").arg(field.caption, field.kept, field.typed);
        field.edit->setText(field.kept);
    }
    const QList<Field> digits = {
        {Text4, QStringLiteral("中箱序号长度"), QString::number(job.middleDigits), Text4->text()},
        {Text1, QStringLiteral("外箱序号长度"), QString::number(job.outerDigits), Text1->text()},
    };
    for (const Field &field : digits)
        if (textnum::tryInt16(field.typed) != std::optional<int16_t>(field.kept.toShort()))
            changed << QStringLiteral("%1：这一箱按“%2”，输入的“%3”照常保存").arg(field.caption, field.kept, field.typed);
    if (!changed.isEmpty())
        operatorMessages().show(QStringLiteral("外箱 %1 按它开始时的设置继续装，以下各栏已改回：\n%2")
                                    .arg(outerLabel, changed.join(QLatin1Char('\n'))));
}

void frm_MAIN::journalNewJob()
{
    // The open box goes on with the job as Start now gives it; a restart must too.
    if (m_scan->box().rowCount() > 0) {
        try {
            m_scan->box().setJob(PackingJob::of(packingState()));
        } catch (const RuntimeError &e) {
            operatorMessages().show(QStringLiteral("新的设置未能写入当前外箱记录：%1").arg(e.description()));
        }
    }
    journalNewNumbers();
}

void frm_MAIN::journalNewNumbers()
{
    try {
        m_scan->box().numbersAdvanced(packingState().lMiddleNo, packingState().lOuterNo);
    } catch (const RuntimeError &e) {
        operatorMessages().show(QStringLiteral("新的序号未能写入当前外箱记录：%1").arg(e.description()));
    }
}

void frm_MAIN::saveDigitCounts()
{
    try {
        modINI::WriteIniValue("length", "wlen", program::folder() + "\\config.ini", Text1->text(), QString());
        modINI::WriteIniValue("length", "zlen", program::folder() + "\\config.ini", Text4->text(), QString());
    } catch (const RuntimeError &e) {
        // Scanning can go on without them; the operator learns they were not kept.
        operatorMessages().show(QStringLiteral("序号长度未能保存到 %1：%2\n本次运行不受影响。")
                                    .arg(modINI::DisplayPath(config::path()), e.description()));
    }
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
