#pragma once

#include <QString>
#include <optional>
#include <vector>

// A linear barcode as a row of modules, made by a barcode library (never encoded
// here): what is drawn, a module at a time, in whole printer dots.
namespace barcode {

enum class Kind {
    Code128,     // any text the symbology can carry
    Gs1Sscc,     // GS1-128 with AI (00): the text is the 18-digit SSCC
    Gs1,         // GS1-128 of an element string: the text is "[02]…[37]…", each AI in brackets
};

struct Symbol
{
    std::vector<bool> modules; // left to right, true for a bar; without the quiet zones
    QString text;              // as printed under it: the text, or each AI in parentheses ("(00)" and the SSCC)
};

constexpr int kQuietModules = 10; // each side

// Nothing, with why in *why, when the text cannot be put in that symbology.
std::optional<Symbol> encode(Kind kind, const QString &text, QString *why);

} // namespace barcode
