#pragma once

#include "labels/Label.h"

#include <QByteArray>
#include <QString>

// A label drawn as a one-page PDF at the printer's size and resolution. Every bar
// of the barcode is a whole number of printer dots wide and starts on a dot, so the
// printer prints it as drawn; a label that does not fit is refused, never cut.
namespace labels {

struct Drawn
{
    QByteArray pdf;  // empty when it does not fit or the barcode cannot be made
    QString misfit;  // why not, in Chinese, with the size it needs; "" when drawn
};

Drawn draw(const Label &label, const PageSize &size);

// The narrowest bar a scanner reads reliably: 0.25 mm, in whole dots at this resolution.
int narrowestBarDots(int dpi);

} // namespace labels
