#include "support/PlantDb.h"

#include "core/RuntimeError.h"
#include "platform/PasswordHash.h"
#include "plant/Operators.h"
#include "plant/RecordRefusals.h"

#include <QDirIterator>
#include <QProcess>
#include <QTest>

using plantdb::one;

namespace {

// zantrel-db as a person runs it with passwords on standard input, a line each.
struct Run
{
    int status = -1;
    QString out, errors;
};
Run zantrelDb(const QStringList &args, const QByteArray &input)
{
    QProcess p;
    p.start(qEnvironmentVariable("ZANTREL_BUILD_DIR") + "/station/zantrel-db", args);
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

// Whether any file under the folder holds these bytes.
QString fileHolding(const QString &folder, const QByteArray &bytes)
{
    QDirIterator files(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile f(files.next());
        if (f.open(QIODevice::ReadOnly) && f.readAll().contains(bytes))
            return f.fileName();
    }
    return {};
}

} // namespace

// Operators in the record: added and changed by zantrel-db, each change signed by an
// admin's password; logins against verifiers nobody can read; five failures lock a 工号.
class TestOperators : public QObject
{
    Q_OBJECT
    PgServer m_server;
    QString m_db;
    std::unique_ptr<database::Connection> m_owner;

    QString url(const QString &login) const { return m_server.url(login, m_db); }

private slots:
    void initTestCase()
    {
        const QString why = m_server.start();
        QVERIFY2(why.isEmpty(), qPrintable(why));
        m_db = plantdb::make(m_server, QStringLiteral("operators"));
        m_owner = database::connect(url(QStringLiteral("postgres")));
        m_owner->runScript(QStringLiteral("CREATE ROLE hr LOGIN; GRANT zantrel_admin TO hr;"
                                          "CREATE ROLE viewer LOGIN; GRANT zantrel_reader TO viewer;"
                                          "CREATE ROLE board LOGIN; GRANT zantrel_reader, zantrel_supervisor TO board;"));
    }

    // The first admin by the schema's owner, every other change signed by an admin; a wrong
    // signature changes nothing and counts as a failed login; the list says where each stands.
    void changesAreSignedByAnAdmin()
    {
        QCOMPARE(zantrelDb({"operator", "add", url("hr"), "A001", "--name", "张管理", "--role", "admin"}, "Adm1n-pass\n").status, 2);
        Run first = zantrelDb({"operator", "add", url("postgres"), "A001", "--name", "张管理", "--role", "admin"}, "Adm1n-pass\n");
        QVERIFY2(first.status == 0, qPrintable(first.errors));
        Run second = zantrelDb({"operator", "add", url("postgres"), "A002", "--name", "第二位", "--role", "admin"}, "Adm2n-pass\n");
        QCOMPARE(second.status, 2);
        QVERIFY2(second.errors.contains(QStringLiteral("须由在职的管理员签名")), qPrintable(second.errors));

        Run packer = zantrelDb({"operator", "add", url("hr"), "P001", "--name", "李包装", "--role", "packer", "--by", "A001"},
                               "Pack-pass1\nAdm1n-pass\n");
        QVERIFY2(packer.status == 0, qPrintable(packer.errors));
        Run wrong = zantrelDb({"operator", "add", url("hr"), "P002", "--name", "王包装", "--role", "packer", "--by", "A001"},
                              "Pack-pass2\nnot-his-pass\n");
        QCOMPARE(wrong.status, 2);
        QVERIFY2(wrong.errors.contains(QStringLiteral("工号或密码不正确。")), qPrintable(wrong.errors));
        Run notAdmin = zantrelDb({"operator", "add", url("hr"), "P002", "--name", "王包装", "--role", "packer", "--by", "P001"},
                                 "Pack-pass2\nPack-pass1\n");
        QCOMPARE(notAdmin.status, 2);
        QVERIFY2(notAdmin.errors.contains(QStringLiteral("需要管理员签名")), qPrintable(notAdmin.errors));
        QCOMPARE(zantrelDb({"operator", "add", url("hr"), "P003", "--name", "短", "--role", "packer", "--by", "A001"}, "short\nAdm1n-pass\n").status, 2);
        QCOMPARE(zantrelDb({"operator", "add", url("hr"), "P001", "--name", "又一个", "--role", "qa", "--by", "A001"}, "Other-pass\nAdm1n-pass\n")
                     .errors.contains(QStringLiteral("工号 P001 已经用过")),
                 true);
        QCOMPARE(one(*m_owner, "SELECT count(*) FROM zantrel.operators"), QStringLiteral("2"));

        QCOMPARE(zantrelDb({"operator", "disable", url("hr"), "P001", "--by", "A001"}, "Adm1n-pass\n").status, 0);
        QCOMPARE(zantrelDb({"operator", "disable", url("hr"), "P001", "--by", "A001"}, "Adm1n-pass\n").status, 2); // disabled already
        Run list = zantrelDb({"operator", "list", url("hr")}, {});
        QVERIFY2(list.out.contains(QStringLiteral("A001\t张管理\tadmin\tactive\t-\n")) && list.out.contains(QStringLiteral("P001\t李包装\tpacker\tdisabled\t-\n")),
                 qPrintable(list.out));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, operators::logIn(*m_owner, "P001", "Pack-pass1", "test")); // disabled
        QCOMPARE(zantrelDb({"operator", "enable", url("hr"), "P001", "--by", "A001"}, "Adm1n-pass\n").status, 0);
        QCOMPARE(zantrelDb({"operator", "passwd", url("hr"), "P001", "--by", "A001"}, "New-pack-pass\nAdm1n-pass\n").status, 0);
        QCOMPARE(operators::logIn(*m_owner, "P001", "New-pack-pass", "test").who.name, QStringLiteral("李包装"));

        // Every change a row of its own, by whom; the signer's failed try among them.
        QCOMPARE(one(*m_owner, "SELECT string_agg(kind || ':' || coalesce(by_operator, '-'), ',' ORDER BY event_id)"
                               " FROM zantrel.operator_events WHERE operator_id = 'P001' AND kind NOT LIKE 'login%'"),
                 QStringLiteral("added:A001,disabled:A001,enabled:A001,password:A001"));
        QCOMPARE(one(*m_owner, "SELECT count(*) FROM zantrel.operator_events WHERE operator_id = 'A001' AND kind = 'login-failed'"), QStringLiteral("1"));
        QCOMPARE(refusalOf([&] { m_owner->run("UPDATE zantrel.operator_events SET station = 'x'"); }), QString(refusal::kRecordNeverChanges));
    }

    // Five failed logins in a row lock the 工号 for 15 minutes, recorded; the right password
    // is refused meanwhile; a new password from an admin lifts it.
    void fiveFailuresLockTheId()
    {
        auto station = database::connect(url("line3"));
        for (int i = 0; i < 4; ++i)
            QVERIFY_THROWS_EXCEPTION(RuntimeError, operators::logIn(*station, "P001", "wrong-" + QString::number(i), "line3-a"));
        QCOMPARE(operators::logIn(*station, "P001", "New-pack-pass", "line3-a").who.id, QStringLiteral("P001")); // a success resets the count
        QString why;
        for (int i = 0; i < 5; ++i)
            try {
                operators::logIn(*station, "P001", "wrong-" + QString::number(i), "line3-a");
            } catch (const RuntimeError &e) {
                why = e.description();
            }
        QVERIFY2(why.contains(QStringLiteral("已锁定 15 分钟")), qPrintable(why));
        try {
            operators::logIn(*station, "P001", "New-pack-pass", "line3-a");
            QFAIL("a locked 工号 logged in");
        } catch (const RuntimeError &e) {
            QCOMPARE(e.sqlState(), QString(refusal::kOperatorLocked));
        }
        QCOMPARE(one(*m_owner, "SELECT count(*) FROM zantrel.operator_events WHERE operator_id = 'P001' AND kind = 'locked' AND station = 'line3-a'"),
                 QStringLiteral("1"));
        QCOMPARE(one(*m_owner, "SELECT count(*) FROM zantrel.operator_events WHERE operator_id = 'P001' AND kind = 'login-failed' AND station = 'line3-a'"),
                 QStringLiteral("9"));
        QCOMPARE(zantrelDb({"operator", "passwd", url("hr"), "P001", "--by", "A001"}, "Third-pass\nAdm1n-pass\n").status, 0);
        QCOMPARE(operators::logIn(*station, "P001", "Third-pass", "line3-a").who.id, QStringLiteral("P001"));
    }

    // No role a station, a viewer or the board uses reads a verifier or changes an
    // operator; no password is anywhere in the record's files.
    void nothingReadableWhereItShouldNotBe()
    {
        for (const QString login : {"line3", "viewer", "board", "hr"}) {
            auto db = database::connect(url(login));
            QVERIFY2(!refusalOf([&] { db->run("SELECT verifier FROM zantrel.operator_verifiers"); }).isEmpty(), qPrintable(login));
            if (login != "hr")
                QVERIFY2(!refusalOf([&] { db->run("SELECT zantrel.change_operator('password', 'P001', 'A001', NULL, NULL, '$argon2id$x')"); }).isEmpty(),
                         qPrintable(login));
        }
        auto viewer = database::connect(url("viewer"));
        QVERIFY(!refusalOf([&] { viewer->run("SELECT * FROM zantrel.login_verifier('P001')"); }).isEmpty());
        // The station's one question gives one operator's verifier, an argon2id one, and none while disabled.
        auto station = database::connect(url("line3"));
        QVERIFY(one(*station, "SELECT verifier FROM zantrel.login_verifier('P001')").startsWith(QStringLiteral("$argon2id$")));
        QVERIFY(passwordhash::verify(one(*station, "SELECT verifier FROM zantrel.login_verifier('P001')"), "Third-pass"));

        m_owner->run("CHECKPOINT");
        // The search reads the record's files: what was written is found there.
        QVERIFY(!fileHolding(m_server.socketFolder(), QStringLiteral("李包装").toUtf8()).isEmpty());
        for (const QByteArray password : {"Adm1n-pass", "Pack-pass1", "New-pack-pass", "Third-pass"})
            QVERIFY2(fileHolding(m_server.socketFolder(), password).isEmpty(), qPrintable(fileHolding(m_server.socketFolder(), password)));
    }

private:
    template <typename F>
    static QString refusalOf(F &&f)
    {
        try {
            f();
        } catch (const RuntimeError &e) {
            return e.sqlState().isEmpty() ? QStringLiteral("error") : e.sqlState();
        }
        return {};
    }
};

QTEST_MAIN(TestOperators)
#include "tst_operators.moc"
