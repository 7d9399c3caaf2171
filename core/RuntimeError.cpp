#include "core/RuntimeError.h"

#include <cstring>

RuntimeError::RuntimeError(int number, QString source, QString description)
    : m_number(number), m_source(std::move(source)), m_description(std::move(description)),
      m_what(QStringLiteral("%1 (%2): %3").arg(m_number).arg(m_source, m_description).toStdString())
{
}

RuntimeError RuntimeError::withPrefix(const QString &prefix) const
{
    return RuntimeError(m_number, m_source, prefix + m_description);
}

RuntimeError RuntimeError::overflow(const QString &source)
{
    return RuntimeError(Overflow, source, QStringLiteral("Overflow"));
}

RuntimeError RuntimeError::divisionByZero(const QString &source)
{
    return RuntimeError(DivisionByZero, source, QStringLiteral("Division by zero"));
}

RuntimeError RuntimeError::typeMismatch(const QString &source, const QString &text)
{
    return RuntimeError(TypeMismatch, source,
                        QStringLiteral("Type mismatch: \"%1\" is not a number").arg(text));
}

RuntimeError RuntimeError::fromErrno(int err, const QString &source, const QString &what)
{
    return RuntimeError(kSystemBase + err, source,
                        QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(err))));
}
