#include "platform/xls/NativeSpreadsheet.h"
#include "station/DailyWorkbookExport.h"
#include "ui/setup/frm_MAIN.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zantrel"));
    xls::NativeSpreadsheet spreadsheet;
    DailyWorkbookExport dailyExport(spreadsheet);
    frm_MAIN setup(dailyExport);
    setup.Form_Load();
    setup.show();
    return app.exec();
}
