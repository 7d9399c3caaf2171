#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <QStringList>

class QLabel;
class QWidget;

// Window layouts are given in twips; the screen shows 15 twips per pixel.
namespace twips {

constexpr int kPerPixel = 15;

inline int px(int twips) { return twips / kPerPixel; }
inline QRect rect(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}
inline QSize size(int width, int height) { return QSize(px(width), px(height)); }

// A font by family (with fall-backs) and point size.
QFont font(const QStringList &families, double points, bool bold);

// Fills the widget's background with the colour.
void paintBackground(QWidget *widget, const QColor &colour);

// The white-on-blue title band both windows carry.
QLabel *titleBand(QWidget *parent, const QString &caption, int left, int top, int width, int height);

} // namespace twips
