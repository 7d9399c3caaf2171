#pragma once

#include <QString>
#include <exception>
#include <string>

// The one run-time failure type of the station: a number, the source that raised
// it and a readable description, as the operator will eventually see it.
class RuntimeError : public std::exception
{
public:
    // Numbers of the failures the station itself raises; platform failures carry
    // their own (errno-based) numbers offset by kSystemBase.
    enum Number : int {
        InvalidProcedureCall = 5,
        Overflow = 6,
        DivisionByZero = 11,
        TypeMismatch = 13,
        PathNotFound = 76,
        PortOpenFailed = 8002,
        WorkbookFailed = 1004,
        JournalFailed = 1005,
        OutboxFailed = 1006,
        DatabaseFailed = 1007,
        SchemaUnusable = 1008, // the plant record has no schema, or a newer one than this program knows
        SettingsFailed = 1009,
        RefusalRecordFailed = 1010,
        FileRefused = 1011, // not a regular file, or larger than such a file may be
        FileChanged = 1012, // changed under the program since it last wrote it
        DatabaseRefusedData = 1013, // the server refuses these values for good (data, constraint, size limit)
        DatabaseNotAllowed = 1014,  // the login may not do this (a right, or a station that is not its own)
        DatabaseUnreachable = 1015, // no connection could be made
        DatabaseTimedOut = 1016,    // the server did not answer in time
        PrintFailed = 1017,         // the print system did not take a label
        LabelQueueFailed = 1018,    // a label could not be kept on disk until printed
        ChangeRefused = 1019,       // a change to a recorded box does not fit where things stand (told in plain words)
        kSystemBase = 10000,
    };

    // What failed, so that a caller can decide without reading the text. A failure
    // of the system or of arithmetic has no kind of its own until the part that
    // raised it (the journal, the workbook …) marks it with as().
    enum class Kind { Other, Workbook, Journal, Outbox, Database, Settings, Port, RefusalRecord, Labels };

    RuntimeError(int number, QString source, QString description, Kind kind = Kind::Other);

    // A statement the database server refused: its SQLSTATE (five characters) and the
    // detail it gave, kept beside the description so that callers decide on the code.
    RuntimeError withServerCode(QString sqlState, QString detail) const;

    int number() const { return m_number; }
    Kind kind() const { return m_kind; }
    // The same failure, as a failure of that part.
    RuntimeError as(Kind kind) const;
    const QString &source() const { return m_source; }
    const QString &description() const { return m_description; }
    // "" unless the database server refused a statement.
    const QString &sqlState() const { return m_sqlState; }
    const QString &serverDetail() const { return m_serverDetail; }

    // The same failure with text put in front of its description.
    RuntimeError withPrefix(const QString &prefix) const;

    const char *what() const noexcept override { return m_what.c_str(); }

    static RuntimeError overflow(const QString &source);
    static RuntimeError divisionByZero(const QString &source);
    static RuntimeError typeMismatch(const QString &source, const QString &text);
    // A failed system call: errno becomes the number and the system's message the text.
    static RuntimeError fromErrno(int err, const QString &source, const QString &what);

private:
    int m_number;
    Kind m_kind;
    QString m_source;
    QString m_description;
    QString m_sqlState;
    QString m_serverDetail;
    std::string m_what;
};
