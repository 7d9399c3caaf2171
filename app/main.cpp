#include "core/RuntimeError.h"
#include "packing/PackingState.h"
#include "labels/LabelSpool.h"
#include "plant/Outbox.h"
#include "plant/PlantLink.h"
#include "plant/PlantSettings.h"
#include "platform/AtomicFile.h"
#include "platform/InstanceLock.h"
#include "platform/MemoryUse.h"
#include "platform/MessageBox.h"
#include "platform/ProgramEnvironment.h"
#include "platform/Sound.h"
#include "platform/qtwidgets/QtMessageBox.h"
#include "platform/qtwidgets/QtSoundPlayer.h"
#include "platform/qtwidgets/ToolkitTranslation.h"
#include "platform/xls/NativeWorkbookFile.h"
#include "station/BoxJournal.h"
#include "station/DailyWorkbookExport.h"
#include "station/files/DayWorkbooks.h"
#include "station/files/KeptLogins.h"
#include "station/ScanSession.h"
#include "ui/setup/frm_MAIN.h"

#include <QApplication>
#include <QDir>
#include <cstdio>
#include <memory>

int main(int argc, char **argv)
{
    memoryuse::returnLargeBuffersToTheSystem();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zantrel"));
    if (!toolkit::installChineseTexts())
        std::fprintf(stderr, "提示：未找到 Qt 的中文翻译（qt6-translations-l10n），对话框按钮将显示英文。\n");
    QtMessageBox messages;
    setOperatorMessages(&messages);
    QtSoundPlayer sounds;
    setOperatorSounds(&sounds);
    const QString folder = program::folder();
    try {
        // Two stations in one folder would overwrite each other's boxes.
        if (!instance::lockProgramFolder(folder)) {
            operatorMessages().show(QStringLiteral("本文件夹中的扫描程序已在运行。"));
            return 1;
        }
    } catch (const RuntimeError &e) {
        operatorMessages().show(QStringLiteral("无法确认本文件夹中没有其他扫描程序在运行：%1").arg(e.description()));
        return 1;
    }
    // What a replace killed half-way left behind; only the station's own files.
    removeLeftoverTemporaries(folder, {QStringLiteral("config.ini"), BoxJournal::fileName(), Outbox::fileName(), keptlogins::fileName()});
    removeLeftoverTemporaries(dayworkbooks::filesFolder(folder), {QStringLiteral("*.xls")});

    // The station's parts, built here once.
    xls::NativeWorkbookFile workbook;
    DailyWorkbookExport dailyExport(workbook);
    // The plant record, when config.ini names one: its sender starts now, so a
    // backlog from the last run drains while the operator sets up.
    const settings::PlantSettings plantSettings = plant::readSettings(folder);
    std::unique_ptr<PlantLink> plant;
    if (plantSettings.configured()) {
        PlantLink::Options options;
        options.url = plantSettings.url;
        options.station = plantSettings.station;
        options.tellConflicts = plantSettings.tellsConflicts;
        options.maxClockSkewSeconds = plantSettings.maxClockSkewSeconds;
        options.gs1Packs = settings::readScanSettings().gs1.scans;
        options.offlineHours = plantSettings.offlineHours;
        plant = std::make_unique<PlantLink>(folder, options);
    }
    // Labels on paper, when config.ini names a print queue: labels kept from the last
    // run go to the printer now.
    const settings::PrintSettings printSettings = settings::readPrintSettings();
    packingState().bSscc = printSettings.sscc;
    std::unique_ptr<labels::LabelSpool> labelSpool;
    if (printSettings.configured())
        labelSpool = std::make_unique<labels::LabelSpool>(labels::LabelSpool::Options{folder, plantSettings.station, printSettings});
    ScanSession::Parts parts{folder, packingState(), dailyExport, operatorMessages(), operatorSounds(), program::now,
                             plant.get()};
    if (plant)
        parts.plantQuestions = plant->questions();
    parts.labels = labelSpool.get();
    if (plantSettings.stationNamed || plantSettings.configured())
        parts.stationName = plantSettings.station;
    // Operators log in at Start, with F12 and after the window locked, when config.ini says so.
    if (plant && plantSettings.logsOperatorsIn()) {
        parts.operators = plant.get();
        parts.lockAfterMs = plantSettings.lockMinutes * 60 * 1000;
    }
    // The line's batches, taken at Start, when config.ini names the line.
    if (plant && plantSettings.packsBatches()) {
        parts.batches = plant.get();
        parts.batchLine = plantSettings.batchLine;
    }
    frm_MAIN setup(parts);
    // Told with the setup window's own findings, so that a file that cannot be read is told once.
    setup.tellAtLoad(plantSettings.problems + printSettings.problems);
    setup.Form_Load();
    setup.show();
    return app.exec();
}
