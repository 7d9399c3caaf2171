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
        kSystemBase = 10000,
    };

    RuntimeError(int number, QString source, QString description);

    int number() const { return m_number; }
    const QString &source() const { return m_source; }
    const QString &description() const { return m_description; }

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
    QString m_source;
    QString m_description;
    std::string m_what;
};
