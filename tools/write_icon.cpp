// Writes the station's icon as a PNG for the desktop menu entry of the package.
//   write-icon FILE.png
#include "ui/ProgramIcon.h"

#include <QGuiApplication>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2)
        return 2;
    return programIcon().pixmap(64, 64).save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
