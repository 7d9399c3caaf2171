#pragma once

#include <QDateTime>
#include <QString>
#include <optional>
#include <vector>

namespace database {
class Connection;
}

// The plant's operators in its record: added, given a role, disabled and enabled again and
// given passwords by a login in zantrel_admin, each change signed by an active admin with
// his password; logins checked against the verifier the record keeps, every try recorded.
// A password never leaves this program: the record has its argon2id verifier only.
namespace operators {

enum class Role { Packer, Supervisor, Qa, Admin };
// "packer", "supervisor", "qa", "admin" (as the record and zantrel-db name them), and back.
QString word(Role role);
std::optional<Role> named(const QString &word);
// 包装工 / 班长 / 质量 / 管理员
QString shown(Role role);

struct Operator
{
    QString id; // 工号
    QString name;
    Role role = Role::Packer;
    bool active = true;
    QDateTime lockedUntil; // invalid: not locked
};

// A password a person may set: at least this many characters.
constexpr int kShortestPassword = 8;

// Whether the record has any operator; false before the version that has them.
bool any(database::Connection &db);

// An operator who logged in with his password, with the verifier it was checked against
// (for a station to check him again while the record is out of reach).
struct LoggedIn
{
    Operator who;
    QString verifier;
};
// The password checked against the record's verifier; the try recorded with the station
// (or program) it was made at, five failures in a row locking the 工号 for 15 minutes.
// Raises a RuntimeError (ChangeRefused, with the record's code where it has one) in plain
// Chinese: "工号或密码不正确。" for an unknown 工号 and a wrong password alike, a disabled
// operator, a locked 工号 (until when).
LoggedIn logIn(database::Connection &db, const QString &id, const QString &password, const QString &station);

// logIn, and the operator must hold one of these roles for what he signs.
Operator sign(database::Connection &db, const QString &id, const QString &password, const std::vector<Role> &roles,
              const QString &station);

// Who signs a change of operators: an admin's 工号 and password; none only for the record's
// first admin, added by a login that owns the schema.
struct Signer
{
    QString id;
    QString password;
};

// The changes; each raises as logIn does, and for a password shorter than
// kShortestPassword, a 工号 taken, a change that does not fit (ChangeRefused).
void add(database::Connection &db, const QString &id, const QString &name, Role role, const QString &password,
         const std::optional<Signer> &by);
void setPassword(database::Connection &db, const QString &id, const QString &password, const Signer &by);
void disable(database::Connection &db, const QString &id, const Signer &by);
void enable(database::Connection &db, const QString &id, const Signer &by);

// Every operator, by 工号.
std::vector<Operator> list(database::Connection &db);

} // namespace operators
