#pragma once

#include <QString>
#include <optional>

// The operator on duty at a station whose operators log in: his 工号 and name, and
// whether he was checked offline (against what the station kept, the record out of reach).
struct OnDuty
{
    QString id;
    QString name;
    bool offline = false;
    bool operator==(const OnDuty &o) const = default;
};

// Logs an operator in: his password checked against the plant record (the try recorded
// there), or, while the record cannot be reached, against what this station kept of his
// last login here within its hours. Waits with the windows painted.
class OperatorLogin
{
public:
    virtual ~OperatorLogin() = default;
    struct Result
    {
        std::optional<OnDuty> who; // nothing: refused
        QString why;               // why not, as the operator reads it
    };
    virtual Result logIn(const QString &id, const QString &password) = 0;
};
