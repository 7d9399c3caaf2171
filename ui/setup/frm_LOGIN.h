#pragma once

#include "station/ports/OperatorLogin.h"

#include <QWidget>

class QLineEdit;

// 登录: 工号 (focused) and 密码 (masked). Enter logs in through the station's login; a
// refusal is one message box ("工号或密码不正确。" or why), after which 工号 stays and 密码 is
// emptied and focused. Esc goes back. The window closes when an operator logged in (loggedIn)
// or on Esc.
class frm_LOGIN : public QWidget
{
    Q_OBJECT
public:
    frm_LOGIN(OperatorLogin &login, const QString &title, QWidget *parent = nullptr);

signals:
    void loggedIn(const OnDuty &who);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void tryLogin();

    OperatorLogin &m_login;
    QLineEdit *txtId;
    QLineEdit *txtPassword;
    bool m_trying = false;
};
