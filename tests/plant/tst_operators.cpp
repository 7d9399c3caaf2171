#include "station/Fakes.h"
#include "station/Pty.h"
#include "support/DeliverBox.h"
#include "support/PlantDb.h"

#include "packing/PackingState.h"
#include "plant/PlantLink.h"
#include "platform/ProgramEnvironment.h"
#include "station/files/KeptLogins.h"
#include "ui/scan/frm_SCAN.h"
#include "ui/setup/frm_MAIN.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

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

    // Once the record has operators, every --by of rework and of batches is a 工号 whose
    // holder signs with his password, in a role that may: the record refuses anything else.
    void reworkAndBatchesAreSignedOnceThereAreOperators()
    {
        m_owner->runScript(QStringLiteral("CREATE ROLE qa LOGIN; GRANT zantrel_rework TO qa; CREATE ROLE plan LOGIN; GRANT zantrel_planner TO plan;"));
        operators::add(*m_owner, "Q001", "孙质检", operators::Role::Qa, "Qa-pass-01", operators::Signer{"A001", "Adm1n-pass"});
        QVERIFY(deliverBox(url("line3"), "line3-b", 2, QDateTime::currentDateTime(),
                           {{BoxRow::OuterLabel, "RW1"}, {BoxRow::Pack, "RWP1"}, {BoxRow::Pack, "RWP2"}})
                    .recorded);
        const QStringList takeOut{"rework", url("qa"), "take-out", "RW1", "RWP1", "--by", "Q001", "--reason", "抽样"};
        Run wrong = zantrelDb(takeOut, "not-his\n");
        QCOMPARE(wrong.status, 2);
        QVERIFY2(wrong.errors.contains(QStringLiteral("工号或密码不正确。")), qPrintable(wrong.errors));
        Run packer = zantrelDb({"rework", url("qa"), "take-out", "RW1", "RWP1", "--by", "P001", "--reason", "抽样"}, "Third-pass\n");
        QCOMPARE(packer.status, 2);
        QVERIFY2(packer.errors.contains(QStringLiteral("需要班长或质量签名")), qPrintable(packer.errors));
        Run signedOut = zantrelDb(takeOut, "Qa-pass-01\n");
        QVERIFY2(signedOut.status == 0, qPrintable(signedOut.errors));
        QCOMPARE(one(*m_owner, "SELECT person || '|' || signed_by FROM zantrel.box_changes WHERE barcode = 'RWP1'"), QStringLiteral("孙质检|Q001"));
        // Each change keeps the box as it found it and as it left it, which the next one finds.
        for (const QStringList &next : {QStringList{"put-in", "RW1", "RWP1"}, QStringList{"put-in", "RW1", "RWP9"}, QStringList{"void", "RW1"},
                                        QStringList{"restore", "RW1"}, QStringList{"take-out", "RW1", "RWP2"}}) {
            Run made = zantrelDb(QStringList{"rework", url("qa")} + next + QStringList{"--by", "Q001", "--reason", "其他"}, "Qa-pass-01\n");
            QVERIFY2(made.status == 0, qPrintable(made.errors));
        }
        QCOMPARE(one(*m_owner, "SELECT string_agg(kind || ' ' || box_before::text || ' ' || box_after::text, E'\\n' ORDER BY change_id)"
                               " FROM zantrel.box_changes c JOIN zantrel.boxes b USING (box_id) WHERE b.outer_label = 'RW1'"),
                 QStringLiteral("take-out {\"void\": false, \"packs\": [\"RWP1\", \"RWP2\"]} {\"void\": false, \"packs\": [\"RWP2\"]}\n"
                                "put-in {\"void\": false, \"packs\": [\"RWP2\"]} {\"void\": false, \"packs\": [\"RWP1\", \"RWP2\"]}\n"
                                "put-in {\"void\": false, \"packs\": [\"RWP1\", \"RWP2\"]} {\"void\": false, \"packs\": [\"RWP1\", \"RWP2\", \"RWP9\"]}\n"
                                "void {\"void\": false, \"packs\": [\"RWP1\", \"RWP2\", \"RWP9\"]} {\"void\": true, \"packs\": []}\n"
                                "restore {\"void\": true, \"packs\": []} {\"void\": false, \"packs\": [\"RWP1\", \"RWP2\", \"RWP9\"]}\n"
                                "take-out {\"void\": false, \"packs\": [\"RWP1\", \"RWP2\", \"RWP9\"]} {\"void\": false, \"packs\": [\"RWP1\", \"RWP9\"]}"));
        // Past the program, the record itself refuses an unsigned change.
        auto qa = database::connect(url("qa"));
        QCOMPARE(refusalOf([&] {
                     qa->run("INSERT INTO zantrel.box_changes (kind, box_id, barcode, person, reason)"
                             " SELECT 'take-out', box_id, 'RWP1', 'x', '抽样' FROM zantrel.boxes WHERE outer_label = 'RW1'");
                 }),
                 QString(refusal::kNotSignedByAdmin));

        Run added = zantrelDb({"batch", "add", url("plan"), "S1", "--line", "L1", "--planned", "10", "--by", "A001"}, "Adm1n-pass\n");
        QVERIFY2(added.status == 0, qPrintable(added.errors));
        QCOMPARE(one(*m_owner, "SELECT person || '|' || signed_by FROM zantrel.batch_states WHERE batch = 'S1'"), QStringLiteral("张管理|A001"));
        Run byQa = zantrelDb({"batch", "abort", url("plan"), "S1", "--by", "Q001"}, "Qa-pass-01\n");
        QCOMPARE(byQa.status, 2);
        QVERIFY2(byQa.errors.contains(QStringLiteral("需要班长或管理员签名")), qPrintable(byQa.errors));
        QCOMPARE(one(*m_owner, "SELECT count(*) FROM zantrel.batch_states WHERE batch = 'S1'"), QStringLiteral("1"));
    }

    // The real station: a wrong and a right password at Start, the operator named; the lock
    // after its time refuses a scan and lifts at the next login, the box going on; F12 hands
    // over; offline, an operator seen here logs in by what the station kept, one never seen
    // here is refused.
    void aStationLogsItsOperatorsIn()
    {
        operators::add(*m_owner, "P002", "王包装", operators::Role::Packer, "Pack-pass2", operators::Signer{"A001", "Adm1n-pass"});
        operators::add(*m_owner, "P003", "赵包装", operators::Role::Packer, "Pack-pass3", operators::Signer{"A001", "Adm1n-pass"});
        QTemporaryDir dir;
        program::setFolder(dir.path());
        QFile config(dir.filePath("config.ini"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("[length]\r\nnlen=8;\r\nzlen=3;\r\nwlen=3;\r\n[com]\r\nComPort1=1;\r\n[cf]\r\ncf=0;\r\n[waittime]\r\nstime=20;\r\n");
        config.close();
        Pty scanner(dir.path(), 1);
        RecordingMessages messages;
        RecordingExport exports;
        RecordingSounds sounds;
        setOperatorMessages(&messages);
        packingState() = PackingState{};
        PlantLink::Options options;
        options.url = url("line3");
        options.station = QStringLiteral("line3-a");
        PlantLink link(dir.path(), options);
        ScanSession::Parts parts{dir.path(), packingState(), exports, messages, sounds, program::now, &link, link.questions()};
        parts.stationName = QStringLiteral("line3-a");
        parts.operators = &link;
        parts.lockAfterMs = 500;
        auto setup = std::make_unique<frm_MAIN>(parts);
        setup->Form_Load();
        setup->show();
        const auto logIn = [&](QWidget *window, const QString &id, const QString &password) {
            QTRY_VERIFY(window && window->isVisible());
            auto *idField = window->findChild<QLineEdit *>("txtId");
            auto *passwordField = window->findChild<QLineEdit *>("txtPassword");
            idField->setText(id);
            passwordField->setText(password);
            QTest::keyClick(passwordField, Qt::Key_Return);
        };
        // Esc goes back to the setup window: nothing started.
        QTest::mouseClick(setup->findChild<QPushButton *>("cmdOK"), Qt::LeftButton);
        QTRY_VERIFY(setup->loginWindow() && setup->loginWindow()->isVisible());
        QTest::keyClick(setup->loginWindow()->findChild<QLineEdit *>("txtId"), Qt::Key_Escape);
        QTRY_VERIFY(!setup->loginWindow());
        QVERIFY(!setup->scanWindow());
        QTest::mouseClick(setup->findChild<QPushButton *>("cmdOK"), Qt::LeftButton);
        QTRY_VERIFY(setup->loginWindow());
        QPointer<QWidget> login = setup->loginWindow();
        QCOMPARE(login->windowTitle(), setup->windowTitle());
        logIn(login, "P001", "not-the-pass");
        QCOMPARE(messages.texts.value(0), QStringLiteral("工号或密码不正确。"));
        QCOMPARE(login->findChild<QLineEdit *>("txtId")->text(), QStringLiteral("P001"));
        QVERIFY(login->findChild<QLineEdit *>("txtPassword")->text().isEmpty());
        QVERIFY(login->findChild<QLineEdit *>("txtPassword")->hasFocus() || !login->isActiveWindow());
        logIn(login, "P001", "Third-pass");
        QTRY_VERIFY(setup->scanWindow() && setup->scanWindow()->isVisible());
        frm_SCAN &scan = *setup->scanWindow();
        const auto panel = [&] { return scan.findChild<QLabel *>("lblOperator")->text(); };
        QTRY_COMPARE(panel(), QStringLiteral("操作员 P001 李包装"));
        QVERIFY2(scan.windowTitle().contains(QStringLiteral("操作员 P001 李包装")), qPrintable(scan.windowTitle()));

        scanner.send("A00001\r\n");
        QTRY_COMPARE(scan.box().iInnerCount(), int16_t(1));
        // Nobody there: locked; a scan refused and not listed; any key opens the login.
        QTRY_COMPARE(panel(), QStringLiteral("已锁定 — 按任意键登录"));
        messages.texts.clear();
        scanner.send("A00002\r\n");
        QTRY_VERIFY(!messages.texts.isEmpty());
        QVERIFY2(messages.texts.value(0).startsWith(QStringLiteral("已锁定，请先登录。")), qPrintable(messages.texts.join('|')));
        QCOMPARE(scan.box().iInnerCount(), int16_t(1));
        QTest::keyClick(&scan, Qt::Key_F8); // not even F8: the login opens
        QTRY_VERIFY(scan.findChild<QWidget *>() && QApplication::topLevelWidgets().size() > 0);
        QWidget *unlock = nullptr;
        QTRY_VERIFY((unlock = [] { for (QWidget *w : QApplication::topLevelWidgets()) if (w->objectName() == "frm_LOGIN" && w->isVisible()) return w; return (QWidget *)nullptr; }()));
        logIn(unlock, "P002", "Pack-pass2");
        QTRY_COMPARE(panel(), QStringLiteral("操作员 P002 王包装"));
        QCOMPARE(int(exports.boxes.size()), 0); // F8 did not close the box
        scanner.send("A00003\r\n");
        QTRY_COMPARE(scan.box().iInnerCount(), int16_t(2)); // the box went on

        // Offline: P002 logged in here, P003 never did.
        m_server.stop();
        const auto findLogin = [] { for (QWidget *w : QApplication::topLevelWidgets()) if (w->objectName() == "frm_LOGIN" && w->isVisible()) return w; return (QWidget *)nullptr; };
        scan.activateWindow(); // the keys are the window's own
        QTRY_VERIFY(scan.isActiveWindow());
        QTest::keyClick(&scan, Qt::Key_F12);
        QWidget *shift = nullptr;
        QTRY_VERIFY((shift = findLogin()));
        messages.texts.clear();
        logIn(shift, "P003", "Pack-pass3");
        QTRY_VERIFY(!messages.texts.isEmpty());
        QVERIFY2(messages.texts.value(0).contains(QStringLiteral("工号 P003 在 12 小时内没有在本站登录过，不能离线登录")), qPrintable(messages.texts.join('|')));
        logIn(shift, "P002", "Pack-pass2");
        QTRY_COMPARE(panel(), QStringLiteral("操作员 P002 王包装（离线登录）"));
        // What the station kept is the verifier, readable by its user alone, never a password.
        QCOMPARE(QFileInfo(dir.filePath(keptlogins::fileName())).permissions() & (QFile::ReadGroup | QFile::ReadOther), QFileDevice::Permissions());
        for (const QByteArray password : {"Third-pass", "Pack-pass2", "not-the-pass"})
            QVERIFY2(fileHolding(dir.path(), password).isEmpty(), qPrintable(fileHolding(dir.path(), password)));
        // The box names both who scanned into it and who wrote it; the refused scan its operator.
        messages.answers << QStringLiteral("封箱");
        scan.activateWindow();
        QTRY_VERIFY(scan.isActiveWindow());
        QTest::keyClick(&scan, Qt::Key_F8);
        QTRY_COMPARE(int(exports.boxes.size()), 1);
        QCOMPARE(m_server.startAgain(), QString());
        m_owner = database::connect(url(QStringLiteral("postgres")));
        QTRY_COMPARE_WITH_TIMEOUT(one(*m_owner, "SELECT written_by || '|' || operators FROM zantrel.boxes WHERE station = 'line3-a'"),
                                  QStringLiteral("P002|P001 P002"), 30000);
        QFile refusals(QDir(dir.filePath("files")).filePath(QStringLiteral("refused-%1.txt").arg(QDate::currentDate().toString("yyyyMMdd"))));
        QVERIFY(refusals.open(QIODevice::ReadOnly));
        QVERIFY2(QString::fromUtf8(refusals.readAll()).contains(QStringLiteral("已锁定，请先登录。\t1/1\tA00002\tP001\n")), qPrintable(refusals.fileName()));
        setup.reset();
        setOperatorMessages(nullptr);
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
