#pragma once

#include <QStringView>

// GS1's Application Identifiers as GS1's Barcode Syntax Dictionary defines them:
// each AI's data as components (character set, length, the checks on each), whether
// a separator must follow it, the AIs it needs and those it may not go with. The
// table itself is generated (scripts/gs1-ai-table.py) from core/gs1/.
namespace gs1 {

// A check on a component's data, named as the dictionary names it.
enum class Lint : unsigned char {
    none,
    csum, csumalpha, gcppos1, gcppos2, hasnondigit,
    yymmd0, yymmdd, yyyymmdd, hhmi, hh, mi, ss,
    iso3166, iso3166999, iso3166alpha2, iso4217, iso5218,
    nonzero, zero, nozeroprefix, winding, pieceoftotal, yesno, hyphen,
    importeridx, latitude, longitude, pcenc, iban, mediatype, posinseqslash,
    packagetype, couponcode, couponposoffer,
};

constexpr int kMostLints = 3;
constexpr int kMostComponents = 5;

struct AiComponent
{
    char type;     // 'N' digits, 'X' CSET 82, 'Y' CSET 39, 'Z' CSET 64 (base64url)
    int least;     // characters: least == most for a fixed length
    int most;
    bool optional; // may be left out once the data is used up
    Lint lints[kMostLints];
};

struct AiEntry
{
    const char *ai;
    bool predefinedLength; // ends by its length: no separator follows it
    bool digitalLink;      // a Digital Link data attribute
    int componentCount;
    AiComponent components[kMostComponents];
    const char *req; // alternatives "01+21,03+21"; several keys separated by a space
    const char *ex;  // AIs or patterns ("310n") it may not go with
    const char *title;
};

struct PrefixLength
{
    const char *prefix; // two digits
    int length;         // of every AI that starts with them
};

extern const AiEntry kAiTable[];
extern const int kAiTableSize;
extern const PrefixLength kPrefixLengths[];
extern const int kPrefixLengthsSize;
extern const char *const kIso3166Numeric[];
extern const int kIso3166NumericSize;
extern const char *const kIso3166Alpha2[];
extern const int kIso3166Alpha2Size;
extern const char *const kIso4217Numeric[];
extern const int kIso4217NumericSize;

// The AI's entry; nullptr when GS1 has not allocated it.
const AiEntry *aiEntry(QStringView ai);

// How many digits an AI that starts with these two digits has; 0 when no AI does.
int aiLengthOfPrefix(QStringView twoDigits);

// The dictionary's name of a lint ("csum").
const char *lintName(Lint lint);

} // namespace gs1
