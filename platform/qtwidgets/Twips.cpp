#include "platform/qtwidgets/Twips.h"

#include <QLabel>
#include <QPalette>

namespace twips {

QFont font(const QStringList &families, double points, bool bold)
{
    QFont f;
    // Chinese captions fall back to an installed CJK font when the named one is missing.
    f.setFamilies(families + QStringList{QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")});
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

void paintBackground(QWidget *widget, const QColor &colour)
{
    widget->setAutoFillBackground(true);
    QPalette p = widget->palette();
    p.setColor(QPalette::Window, colour);
    widget->setPalette(p);
}

QLabel *titleBand(QWidget *parent, const QString &caption, int left, int top, int width, int height)
{
    auto *label = new QLabel(caption, parent);
    label->setObjectName(QStringLiteral("lblTitle"));
    label->setGeometry(rect(left, top, width, height));
    label->setAlignment(Qt::AlignCenter);
    label->setFont(font({QStringLiteral("Arial")}, 36, true));
    paintBackground(label, QColor(128, 128, 255));
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(p);
    return label;
}

} // namespace twips
