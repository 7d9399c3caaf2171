#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <initializer_list>
#include <optional>
#include <vector>

// The lines of the station's own files (the open-box journal, the outbox, the told
// conflicts, the refusal record): UTF-8, one record a line, "keyword field field…",
// so that a line never breaks and a person can read it. Each file declares its
// records with these; what a field means is the file's own.
namespace linecodec {

// The one test of a control character: C0, DEL and C1 (in Latin-1, 0x80–0x9F are
// control codes just as 0x00–0x1F are).
bool isControl(char16_t u);

// A character as a message shows it: a control character by name ("<TAB>", "<0x1D>"),
// any other as itself.
QString shown(QChar c);

enum class Escape {
    Controls,          // a text that fills the rest of a line
    ControlsAndBlanks, // a text among other fields of a line
    NonAscii,          // every character from DEL up too: a text that stands for bytes as they came
};
enum class Hex { Lower, Upper };

// A text as a field: every character whole (also those outside the Basic
// Multilingual Plane), a backslash doubled, each character the escape picks as \xHH.
QByteArray escaped(const QString &text, Escape what = Escape::Controls, Hex hex = Hex::Lower);
// A field back as its text (\xHH is the character U+00HH); nothing when an escape is broken.
std::optional<QString> unescaped(QByteArrayView field);

// "keyword field field…\n"; the fields already escaped.
QByteArray line(QByteArrayView keyword, std::initializer_list<QByteArrayView> fields = {});

// A line's keyword and what follows its first blank.
struct Parts
{
    QByteArrayView keyword;
    QByteArrayView rest;
};
Parts split(QByteArrayView line);

// A line's rest as that many fields, each up to the next blank, and the text after
// them, which fills the rest of the line and may hold blanks; nothing when the rest
// has fewer blanks than fields.
struct Leading
{
    std::vector<QByteArrayView> fields;
    QByteArrayView tail;
};
std::optional<Leading> leading(QByteArrayView rest, int fields);

} // namespace linecodec
