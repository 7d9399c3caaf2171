// zantrel-label: prints a box's label again, marked 补打: an outer or a middle label
// found in the workbooks of files/, or with --db an outer label in the plant record.
//
//   zantrel-label [--folder 程序文件夹 | --db 数据库 [--station 工位]] [--pdf 文件] 标签
//
// The queue, size and resolution are those of config.ini's [print]; --pdf writes the
// label to a file instead (a preview, also where no printer is set up).
// Exit status: 0 printed or written, 1 no such label, 2 an error (told on stderr).
#include "core/Gs1.h"
#include "core/RuntimeError.h"
#include "labels/Label.h"
#include "labels/LabelPage.h"
#include "platform/AtomicFile.h"
#include "platform/Database.h"
#include "platform/PrintSpooler.h"
#include "platform/ProgramEnvironment.h"
#include "platform/RegularFile.h"
#include "plant/PackLocations.h"
#include "plant/PlantSettings.h"
#include "settings/StationSettings.h"
#include "station/DayWorkbooks.h"
#include "station/PackSearch.h"

#include <QDir>
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
    return QDateTime(QDate::fromString(workbook.left(8), QStringLiteral("yyyyMMdd")), QTime(0, 0));
}

// An outer label, or else a middle label, from the packs listed under it.
std::optional<labels::Label> fromPacks(const QString &text, const std::vector<packsearch::Listed> &packs, const QString &station)
{
    labels::Label l;
    l.text = text;
    l.station = station;
    l.timeKnown = false;
    for (const packsearch::Listed &p : packs) {
        if (p.outerLabel == text) {
            if (!l.middles.contains(p.middleLabel))
                l.middles << p.middleLabel;
            ++l.packs;
            l.written = dayOf(p.workbook);
        }
    }
    if (l.packs > 0)
        return l;
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

// The outer label of one recorded box. A label that several boxes carry (two stations,
// or one label used again) is refused unless --station leaves one: a label made of two
// boxes would match neither.
std::optional<labels::Label> fromRecord(const QString &url, const QString &text, const QString &station, QString *ambiguous)
{
    const std::unique_ptr<database::Connection> db = database::connect(url);
    std::vector<packlocations::Location> found = packlocations::byOuterLabel(*db, text);
    if (!station.isEmpty())
        found.erase(std::remove_if(found.begin(), found.end(), [&](const packlocations::Location &p) { return p.station != station; }),
                    found.end());
    if (found.empty())
        return std::nullopt;
    QStringList boxes;
    for (const packlocations::Location &p : found) {
        const QString box = QStringLiteral("%1（%2 写入）").arg(p.station, p.writtenAt);
        if (!boxes.contains(box))
            boxes << box;
    }
    if (boxes.size() > 1) {
        *ambiguous = QStringLiteral("外箱 %1 有 %2 个：%3；请用 --station 指明工位").arg(text).arg(boxes.size()).arg(boxes.join(QStringLiteral("、")));
        return std::nullopt;
    }
    labels::Label l;
    l.text = text;
    l.station = found.front().station;
    l.written = QDateTime::fromString(found.front().writtenAt, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    for (const packlocations::Location &p : found) {
        if (!l.middles.contains(p.middleLabel))
            l.middles << p.middleLabel;
        ++l.packs;
    }
    return l;
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
std::optional<labels::Label> find(const Arguments &a, QString *why)
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
        [](const QString &, const QString &reason) { std::fprintf(stderr, "zantrel-label：警告：%s。已跳过。\n", local(reason).constData()); });
    return fromPacks(a.text, packs, plant::readSettings(a.folder).station);
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
        label = find(*a, &why);
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
