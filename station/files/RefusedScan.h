#pragma once

#include <QString>
#include <cstdint>
#include <optional>

// Texts that tell the operator exactly what a refused scan held, so that the
// right packs get scanned again.
namespace refused {

// The first control character (below 0x20, or 0x7F to 0x9F) other than allowed, if any.
std::optional<qsizetype> firstControlCharacter(const QString &barcode, std::optional<char16_t> allowed = std::nullopt);

// A text as the operator can read it: control characters named (<CR>, <LF>,
// <TAB>, <NUL>, <0x1B>), very long texts cut with their length given.
QString readable(const QString &text);

// The body of the wrong-length message: how many characters arrived, the pieces
// between CR LF pairs (expectedLength 0: scans of no fixed length, each ended by CR LF) (the first and last few when there are many), that none was
// recorded, and how many characters a full buffer had to drop. When the pieces are
// too many to list, recordedIn names the file that holds every one of them ("": none).
QString wrongLengthDetails(const QString &text, int16_t expectedLength, qint64 dropped, const QString &recordedIn = {});

// Bytes as the operator can read them: ASCII letters as they are, every other byte \xHH.
QString shownBytes(const QByteArray &bytes);

// The body of the control-character message.
QString controlCharacterDetails(const QString &text, qsizetype position);

} // namespace refused
