#include "plant/Operators.h"

#include "core/Characters.h"
#include "core/RuntimeError.h"
#include "platform/Database.h"
#include "platform/PasswordHash.h"
#include "plant/PlantSchema.h"
#include "plant/RecordRefusals.h"

#include <QRegularExpression>
#include <algorithm>
#include <array>

namespace operators {

namespace {

const QString kSource = QStringLiteral("Operators");
const QString kWrongLogin = QStringLiteral("工号或密码不正确。");

struct Names
{
    Role role;
    const char *word;
    const char16_t *shown;
};
constexpr std::array<Names, 4> kNames{{{Role::Packer, "packer", u"包装工"},
                                       {Role::Supervisor, "supervisor", u"班长"},
                                       {Role::Qa, "qa", u"质量"},
                                       {Role::Admin, "admin", u"管理员"}}};

[[noreturn]] void refuse(const QString &why, QLatin1StringView code = {})
{
    RuntimeError e(RuntimeError::ChangeRefused, kSource, why, RuntimeError::Kind::Database);
    if (!code.isEmpty())
        e = e.withServerCode(QString(code), {});
    throw e;
}

void needVersion(database::Connection &db)
{
    plantschema::require(db, plantschema::kOperatorVersion, QStringLiteral("操作员"));
}

QString idProblem(const QString &id)
{
    static const QRegularExpression shape(QStringLiteral("^[0-9A-Za-z_.-]{1,20}$"));
    return shape.match(id).hasMatch() ? QString() : QStringLiteral("工号须为 1 到 20 个字母、数字或 _ . -");
}

// The record's refusal of a change in plain words; the error as it came otherwise.
[[noreturn]] void rethrow(const QString &id, const RuntimeError &e)
{
    const QString &code = e.sqlState();
    std::optional<QString> plain;
    if (code == refusal::kNoSuchOperator)
        plain = QStringLiteral("中央记录中没有工号 %1").arg(id);
    else if (code == refusal::kOperatorTaken)
        plain = QStringLiteral("工号 %1 已经用过，工号不能重复使用").arg(id);
    else if (code == refusal::kNotSignedByAdmin)
        plain = QStringLiteral("这个修改须由在职的管理员签名（--by 管理员工号）；没有 --by 只能由架构的所有者添加第一位管理员");
    else if (code == refusal::kOperatorChangeMisfit)
        plain = QStringLiteral("工号 %1 现在的状态不需要这个修改").arg(id);
    if (plain)
        throw RuntimeError(RuntimeError::ChangeRefused, kSource, *plain, RuntimeError::Kind::Database).withServerCode(code, e.serverDetail());
    throw e;
}

Operator operatorOf(const database::Row &r)
{
    Operator o;
    o.id = database::text(r, 0);
    o.name = database::text(r, 1);
    o.role = named(database::text(r, 2)).value_or(Role::Packer);
    o.active = database::isTrue(r[3]);
    if (r[4])
        o.lockedUntil = QDateTime::fromString(*r[4], Qt::ISODateWithMs);
    return o;
}

QString verifierOf(const QString &password)
{
    if (characters::count(password) < kShortestPassword)
        refuse(QStringLiteral("密码至少 %1 个字符").arg(kShortestPassword));
    const std::optional<QString> verifier = passwordhash::make(password);
    if (!verifier)
        refuse(QStringLiteral("无法生成密码的校验值（内存不足）"));
    return *verifier;
}

void change(database::Connection &db, const QString &kind, const QString &id, const std::optional<Signer> &by, const QString &name = {},
            const QString &role = {}, const QString &verifier = {})
{
    if (const QString why = idProblem(id); !why.isEmpty())
        refuse(why);
    needVersion(db);
    // The signer's password is checked here, against the record, before anything changes.
    if (by)
        sign(db, by->id, by->password, {Role::Admin}, QStringLiteral("zantrel-db"));
    const auto orNull = [](const QString &text) { return text.isEmpty() ? QString() : text; };
    try {
        db.run(QStringLiteral("SELECT zantrel.change_operator($1, $2, $3, $4, $5, $6)"),
               {kind, id, by ? by->id : QString(), orNull(name), orNull(role), orNull(verifier)});
    } catch (const RuntimeError &e) {
        if (e.number() == RuntimeError::DatabaseRefusedData)
            rethrow(id, e);
        throw;
    }
}

} // namespace

QString word(Role role)
{
    for (const Names &n : kNames)
        if (n.role == role)
            return QString::fromLatin1(n.word);
    return {};
}

std::optional<Role> named(const QString &text)
{
    for (const Names &n : kNames)
        if (text == QLatin1String(n.word))
            return n.role;
    return std::nullopt;
}

QString shown(Role role)
{
    for (const Names &n : kNames)
        if (n.role == role)
            return QString::fromUtf16(n.shown);
    return {};
}

bool any(database::Connection &db)
{
    if (plantschema::installedVersion(db) < plantschema::kOperatorVersion)
        return false;
    return database::isTrue(db.run(QStringLiteral("SELECT EXISTS (SELECT FROM zantrel.operators)"))[0][0]);
}

LoggedIn logIn(database::Connection &db, const QString &id, const QString &password, const QString &station)
{
    needVersion(db);
    if (!idProblem(id).isEmpty())
        refuse(kWrongLogin, refusal::kNoSuchOperator);
    const auto rows = db.run(QStringLiteral("SELECT l.name, l.role, l.active,"
                                            " to_char(l.locked_until AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'), l.verifier"
                                            " FROM zantrel.login_verifier($1) l"),
                             {id});
    if (rows.empty())
        refuse(kWrongLogin, refusal::kNoSuchOperator); // an unknown 工号 reads as a wrong password
    LoggedIn in;
    in.who = operatorOf({id, rows[0][0], rows[0][1], rows[0][2], rows[0][3]});
    if (in.who.lockedUntil.isValid())
        refuse(QStringLiteral("工号 %1 连续登录失败，已锁定至 %2。").arg(id, in.who.lockedUntil.toLocalTime().toString(QStringLiteral("HH:mm"))),
               refusal::kOperatorLocked);
    if (!in.who.active)
        refuse(QStringLiteral("工号 %1 已停用。").arg(id), refusal::kOperatorChangeMisfit);
    in.verifier = database::text(rows[0], 4);
    const bool right = passwordhash::verify(in.verifier, password);
    const auto locked = db.run(QStringLiteral("SELECT to_char(zantrel.login_result($1, $2, $3) AT TIME ZONE 'UTC',"
                                              " 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"')"),
                               {id, right ? QStringLiteral("true") : QStringLiteral("false"), station});
    if (!right) {
        if (!locked.empty() && locked[0][0])
            refuse(kWrongLogin + QStringLiteral("\n连续失败 5 次，工号 %1 已锁定 15 分钟。").arg(id), refusal::kOperatorLocked);
        refuse(kWrongLogin);
    }
    return in;
}

Operator sign(database::Connection &db, const QString &id, const QString &password, const std::vector<Role> &roles,
              const QString &station)
{
    const LoggedIn in = logIn(db, id, password, station);
    if (std::find(roles.begin(), roles.end(), in.who.role) == roles.end()) {
        QStringList allowed;
        for (Role r : roles)
            allowed << shown(r);
        refuse(QStringLiteral("%1（%2）是%3，这需要%4签名").arg(in.who.name, id, shown(in.who.role), allowed.join(QStringLiteral("或"))),
               refusal::kNotSignedByAdmin);
    }
    return in.who;
}

void add(database::Connection &db, const QString &id, const QString &name, Role role, const QString &password,
         const std::optional<Signer> &by)
{
    if (name.trimmed().isEmpty() || characters::count(name) > 100 || characters::holdsNul(name))
        refuse(QStringLiteral("请写明姓名（至多 100 字）"));
    change(db, QStringLiteral("added"), id, by, name.trimmed(), word(role), verifierOf(password));
}

void setPassword(database::Connection &db, const QString &id, const QString &password, const Signer &by)
{
    change(db, QStringLiteral("password"), id, by, {}, {}, verifierOf(password));
}

void disable(database::Connection &db, const QString &id, const Signer &by)
{
    change(db, QStringLiteral("disabled"), id, by);
}

void enable(database::Connection &db, const QString &id, const Signer &by)
{
    change(db, QStringLiteral("enabled"), id, by);
}

std::vector<Operator> list(database::Connection &db)
{
    needVersion(db);
    std::vector<Operator> out;
    for (const database::Row &r : db.run(QStringLiteral(
             "SELECT operator_id, name, role, active, to_char(locked_until AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"')"
             " FROM zantrel.operator_state ORDER BY operator_id")))
        out.push_back(operatorOf(r));
    return out;
}

} // namespace operators
