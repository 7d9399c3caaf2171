#include "ui/setup/frm_LOGIN.h"

#include "platform/MessageBox.h"
#include "platform/PasswordHash.h"
#include "platform/qtwidgets/Twips.h"
#include "ui/ProgramIcon.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

frm_LOGIN::frm_LOGIN(OperatorLogin &login, const QString &title, QWidget *parent) : QWidget(parent), m_login(login)
{
    setObjectName(QStringLiteral("frm_LOGIN"));
    setWindowTitle(title);
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    setWindowModality(Qt::ApplicationModal); // nothing else is clicked while someone logs in
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(programIcon());
    setFixedSize(twips::size(6600, 3600));
    twips::paintBackground(this, Qt::white);
    twips::titleBand(this, QStringLiteral("登录"), 0, 0, 6645, 1005);
    const QFont font = twips::font({QStringLiteral("Arial")}, 15.75, false);
    auto row = [&](const QString &caption, const char *name, int top) {
        auto *label = new QLabel(caption, this);
        label->setGeometry(twips::rect(240, top, 1500, 495));
        label->setFont(font);
        auto *edit = new QLineEdit(this);
        edit->setObjectName(QLatin1String(name));
        edit->setGeometry(twips::rect(1800, top, 4455, 495));
        edit->setFont(font);
        return edit;
    };
    txtId = row(QStringLiteral("工号："), "txtId", 1440);
    txtPassword = row(QStringLiteral("密码："), "txtPassword", 2340);
    txtId->setMaxLength(20);
    txtPassword->setEchoMode(QLineEdit::Password);
    txtPassword->setMaxLength(200);
    // Enter in either field logs in.
    connect(txtId, &QLineEdit::returnPressed, this, &frm_LOGIN::tryLogin);
    connect(txtPassword, &QLineEdit::returnPressed, this, &frm_LOGIN::tryLogin);
    setTabOrder(txtId, txtPassword);
    txtId->setFocus(Qt::OtherFocusReason);
    setFocusProxy(txtId);
}

void frm_LOGIN::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void frm_LOGIN::tryLogin()
{
    if (m_trying)
        return; // Enter again while the record is asked
    const QString id = txtId->text().trimmed();
    if (id.isEmpty()) {
        txtId->setFocus(Qt::OtherFocusReason);
        return;
    }
    m_trying = true;
    QString password = txtPassword->text();
    const OperatorLogin::Result result = m_login.logIn(id, password);
    passwordhash::wipe(password);
    txtPassword->clear();
    m_trying = false;
    if (result.who) {
        // The station goes on once this key's handling is over (it may wait in event loops of
        // its own), with this window out of its way; the window goes after it.
        const OnDuty who = *result.who;
        hide();
        QMetaObject::invokeMethod(
            this,
            [this, who] {
                emit loggedIn(who);
                close();
            },
            Qt::QueuedConnection);
        return;
    }
    operatorMessages().show(result.why.isEmpty() ? QStringLiteral("工号或密码不正确。") : result.why);
    txtPassword->setFocus(Qt::OtherFocusReason);
}
