#include "core/RuntimeError.h"

#include "core/SystemReason.h"

RuntimeError::RuntimeError(int number, QString source, QString description, Kind kind)
    : m_number(number), m_kind(kind), m_source(std::move(source)), m_description(std::move(description)),
      m_what(QStringLiteral("%1 (%2): %3").arg(m_number).arg(m_source, m_description).toStdString())
{
}

RuntimeError RuntimeError::withPrefix(const QString &prefix) const
{
    return RuntimeError(m_number, m_source, prefix + m_description, m_kind).withServerCode(m_sqlState, m_serverDetail);
}

RuntimeError RuntimeError::as(Kind kind) const
{
    return RuntimeError(m_number, m_source, m_description, kind).withServerCode(m_sqlState, m_serverDetail);
}

RuntimeError RuntimeError::withServerCode(QString sqlState, QString detail) const
{
    RuntimeError e = *this;
    e.m_sqlState = std::move(sqlState);
    e.m_serverDetail = std::move(detail);
    return e;
}

RuntimeError RuntimeError::overflow(const QString &source)
{
    return RuntimeError(Overflow, source, QStringLiteral("溢出（Overflow）"));
}

RuntimeError RuntimeError::divisionByZero(const QString &source)
{
    return RuntimeError(DivisionByZero, source, QStringLiteral("除数为零（Division by zero）"));
}

RuntimeError RuntimeError::typeMismatch(const QString &source, const QString &text)
{
    return RuntimeError(TypeMismatch, source,
                        QStringLiteral("类型不匹配：“%1”不是数字（Type mismatch）").arg(text));
}

RuntimeError RuntimeError::fromErrno(int err, const QString &source, const QString &what)
{
    return RuntimeError(kSystemBase + err, source,
                        QStringLiteral("%1：%2").arg(what, reason::fromErrno(err)));
}
