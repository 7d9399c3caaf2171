#include "ui/ProgramIcon.h"

#include <QPainter>
#include <QPixmap>

QIcon programIcon()
{
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(128, 128, 255));
    p.setPen(QPen(Qt::white, 3));
    p.drawRoundedRect(QRectF(4, 10, 56, 46), 6, 6);
    p.drawLine(4, 26, 60, 26);
    QFont f(QStringLiteral("Arial"), 20, QFont::Bold);
    p.setFont(f);
    p.drawText(QRectF(4, 26, 56, 30), Qt::AlignCenter, QStringLiteral("Z"));
    return QIcon(pixmap);
}
