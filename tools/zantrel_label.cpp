// zantrel-label: prints a box's label again, marked 补打: an outer or a middle label
// found in the workbooks of files/, or with --db an outer label in the plant record.
// An outer label is the label as the box was printed, GS1 block and symbols included;
// a box the plant record has (with --db, or the station's own [db]) is printed as the
// record has it now, rework included.
//
//   zantrel-label [--folder 程序文件夹 | --db 数据库 [--station 工位]] [--pdf 文件] 标签
//
// The queue, size and resolution are those of config.ini's [print]; --pdf writes the
// label to a file instead (a preview, also where no printer is set up).
// Exit status: 0 printed or written, 1 no such label, 2 an error (told on stderr).
#include "core/Gs1.h"
#include "core/RuntimeError.h"
#include "labels/BoxLabel.h"
#include "labels/Label.h"
#include "labels/LabelPage.h"
#include "platform/AtomicFile.h"
#include "platform/Database.h"
#include "platform/PrintSpooler.h"
#include "platform/ProgramEnvironment.h"
#include "platform/RegularFile.h"
#include "plant/RecordedLabels.h"
#include "plant/PlantSettings.h"
#include "settings/StationSettings.h"
#include "station/files/DayWorkbooks.h"
#include "packing/Gs1Rules.h"
#include "station/files/PackSearch.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QUuid>
#include <algorithm>
#include <cstdio>

namespace {

constexpr int kFound = 0;
constexpr int kNotFound = 1;
constexpr int kError = 2;
// A label's page is a few dozen KiB; a file far beyond this at the --pdf path is no preview.
constexpr int64_t kPreviewLimit = 64ll << 20;

QByteArray local(const QString &s)
{
    return s.toLocal8Bit();
}

int fail(const QString &why)
{
    std::fprintf(stderr, "zantrel-label：%s\n", local(why).constData());
    return kError;
}

// The day a workbook holds, from its name (20261208.xls, 20261208-2.xls).
QDateTime dayOf(const QString &workbook)
{
    const std::optional<dayworkbooks::Named> named = dayworkbooks::named(QFileInfo(workbook).fileName());
    return named ? QDateTime(named->day, QTime(0, 0)) : QDateTime();
}

// The middle label the last rows are under; "" when none.
QString middleOf(const std::vector<BoxRow> &rows)
{
    for (auto r = rows.rbegin(); r != rows.rend(); ++r)
        if (r->kind == BoxRow::MiddleLabel)
            return r->text;
    return {};
}

void warn(const QString &what)
{
    std::fprintf(stderr, "zantrel-label：警告：%s\n", local(what).constData());
}

// An outer label, or else a middle label, from the packs listed under it. gs1: the
// station reads its packs as GS1 ([gs1] scans), and so does its label.
std::optional<labels::Label> fromPacks(const QString &text, const std::vector<packsearch::Listed> &packs, const QString &station,
                                       bool gs1)
{
    std::vector<BoxRow> rows{{BoxRow::OuterLabel, text}};
    QString workbook;
    for (const packsearch::Listed &p : packs) {
        if (p.outerLabel != text)
            continue;
        if (rows.back().kind == BoxRow::OuterLabel || (!p.middleLabel.isEmpty() && p.middleLabel != middleOf(rows)))
            rows.push_back({BoxRow::MiddleLabel, p.middleLabel});
        rows.push_back(gs1 ? BoxRow::of(gs1rules::listedPack(p.pack.text(), dayOf(p.workbook).date())) : BoxRow(BoxRow::Pack, p.pack.text()));
        workbook = p.workbook;
    }
    if (!workbook.isEmpty()) {
        if (rows[1].text.isEmpty())
            rows.erase(rows.begin() + 1); // packs under no middle label
        labels::Label l = labels::outerLabelOf(rows, station, dayOf(workbook), false);
        l.timeKnown = false;
        return l;
    }
    labels::Label l;
    l.text = text;
    l.station = station;
    l.timeKnown = false;
    l.kind = labels::Label::Kind::Middle;
    for (const packsearch::Listed &p : packs) {
        if (p.middleLabel == text) {
            l.outer = p.outerLabel;
            l.packList << p.pack.text();
            l.written = dayOf(p.workbook);
        }
    }
    l.packs = int(l.packList.size());
    return l.packs > 0 ? std::optional<labels::Label>(l) : std::nullopt;
}

// The outer label of one recorded box as the record has it now. A label that several
// boxes carry (two stations, or one label used again) is refused unless --station
// leaves one: a label made of two boxes would match neither.
std::optional<labels::Label> fromRecord(const QString &url, const QString &text, const QString &station, QString *ambiguous)
{
    const std::unique_ptr<database::Connection> db = database::connect(url);
    const std::vector<recordedlabels::Box> found = recordedlabels::boxesNow(*db, text, station);
    if (found.empty())
        return std::nullopt;
    if (found.size() > 1) {
        QStringList boxes;
        for (const recordedlabels::Box &b : found)
            boxes << QStringLiteral("%1（%2 写入）").arg(b.station, b.written.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        *ambiguous = QStringLiteral("外箱 %1 有 %2 个：%3；请用 --station 指明工位").arg(text).arg(found.size()).arg(boxes.join(QStringLiteral("、")));
        return std::nullopt;
    }
    return labels::outerLabelOf(recordedlabels::rowsNow(*db, found.front(), text), found.front().station, found.front().written, false);
}

struct Arguments
{
    QString folder, db, pdf, text, station;
};

// Nothing when the command line asks for no label (or for something unknown).
std::optional<Arguments> parse(const QStringList &args, const QString &defaultFolder)
{
    Arguments a{defaultFolder, {}, {}, {}, {}};
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--folder") && i + 1 < args.size())
            a.folder = args[++i];
        else if (args[i] == QLatin1String("--db") && i + 1 < args.size())
            a.db = args[++i];
        else if (args[i] == QLatin1String("--pdf") && i + 1 < args.size())
            a.pdf = args[++i];
        else if (args[i] == QLatin1String("--station") && i + 1 < args.size())
            a.station = args[++i];
        else if (!args[i].startsWith(QLatin1String("--")) && a.text.isEmpty())
            a.text = args[i];
        else
            return std::nullopt;
    }
    if (a.text.isEmpty())
        return std::nullopt;
    return a;
}

// The label as the record or the workbooks tell it; nothing when neither has it.
// Raises when they cannot be read; an ambiguous label is told in *why.
std::optional<labels::Label> find(const Arguments &a, bool gs1, QString *why)
{
    if (!a.db.isEmpty())
        return fromRecord(a.db, a.text, a.station, why);
    const QString files = dayworkbooks::filesFolder(a.folder);
    if (!QDir(files).exists()) {
        *why = QStringLiteral("找不到文件夹 %1").arg(QDir::toNativeSeparators(files));
        return std::nullopt;
    }
    const auto packs = packsearch::search(
        files, [&](const packsearch::Listed &p) { return p.outerLabel == a.text || p.middleLabel == a.text; },
        [](const QString &, const QString &reason) { warn(reason + QStringLiteral("。已跳过")); });
    const settings::PlantSettings plant = plant::readSettings(a.folder);
    std::optional<labels::Label> label = fromPacks(a.text, packs, plant.station, gs1);
    if (!label || label->kind != labels::Label::Kind::Outer || plant.url.isEmpty())
        return label;
    // The station's record knows what rework did to the box since it was written.
    try {
        QString ambiguous;
        if (std::optional<labels::Label> recorded = fromRecord(plant.url, a.text, plant.station, &ambiguous))
            return recorded;
        if (!ambiguous.isEmpty())
            warn(ambiguous);
    } catch (const RuntimeError &e) {
        warn(QStringLiteral("中央记录无法读取（%1），按工作簿中的外箱补打").arg(e.description()));
    }
    return label;
}

// The drawn label into the PDF file, or to the printer.
int deliver(const labels::Drawn &drawn, const QString &pdf, const settings::PrintSettings &print)
{
    if (!pdf.isEmpty()) {
        // Written beside and moved into place; what stands there and is no file (a pipe, a
        // device, a folder) is refused, never opened or replaced.
        if (const QString why = regularfile::whyNotReadable(pdf, kPreviewLimit); !why.isEmpty())
            return fail(QStringLiteral("%1：%2").arg(pdf, why));
        try {
            replaceFileAtomically(pdf, drawn.pdf);
        } catch (const RuntimeError &e) {
            return fail(QStringLiteral("无法写入 %1：%2").arg(pdf, e.description()));
        }
        std::printf("%s\n", local(pdf).constData());
        return kFound;
    }
    try {
        const int job = printing::submit(print.printer, QStringLiteral("zantrel reprint-") + QUuid::createUuid().toString(QUuid::Id128),
                                         drawn.pdf);
        std::printf("%s-%d\n", local(print.printer).constData(), job);
    } catch (const RuntimeError &e) {
        return fail(e.description());
    }
    return kFound;
}

} // namespace

int main(int argc, char **argv)
{
    // A label needs fonts, never a screen.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const std::optional<Arguments> a = parse(app.arguments().mid(1), QCoreApplication::applicationDirPath());
    if (!a) {
        std::fprintf(stderr, "用法：zantrel-label [--folder 程序文件夹 | --db 数据库 [--station 工位]] [--pdf 文件] 标签\n");
        return kError;
    }
    program::setFolder(a->folder);
    const settings::PrintSettings print = settings::readPrintSettings();
    for (const QString &p : print.problems)
        std::fprintf(stderr, "zantrel-label：警告：%s\n", local(p).constData());
    if (a->pdf.isEmpty() && !print.configured())
        return fail(QStringLiteral("%1 的 [print] printer 未设置：请设置打印队列，或用 --pdf 写入文件").arg(settings::displayPath()));

    std::optional<labels::Label> label;
    try {
        QString why;
        label = find(*a, print.gs1, &why);
        if (!why.isEmpty())
            return fail(why);
    } catch (const RuntimeError &e) {
        return fail(e.description());
    }
    if (!label) {
        std::fprintf(stderr, "zantrel-label：没有找到标签 %s\n", local(a->text).constData());
        return kNotFound;
    }
    label->reprint = true;
    label->sscc = print.sscc && label->kind == labels::Label::Kind::Outer && gs1::isSscc(a->text);
    const labels::Drawn drawn = labels::draw(*label, {print.widthMm, print.heightMm, print.dpi});
    if (drawn.pdf.isEmpty())
        return fail(drawn.misfit);
    return deliver(drawn, a->pdf, print);
}
