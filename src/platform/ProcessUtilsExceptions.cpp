#include "ProcessUtilsExceptions.h"

QString ProcessUtilsImplException::defaultUserMessage()
{
    return QStringLiteral(
        "The VYR server encountered an unexpected error and was unable to complete your request.");
}

ProcessUtilsImplException::ProcessUtilsImplException(const QString &message)
    : BaseException(message), m_oUserMessage(defaultUserMessage())
{
}

ProcessUtilsImplException::ProcessUtilsImplException(const QString &message, const BaseException &cause)
    : BaseException(message, cause), m_oUserMessage(defaultUserMessage())
{
}

ProcessUtilsImplException::ProcessUtilsImplException(const QString &message, const QString &userMessage)
    : BaseException(message), m_oUserMessage(userMessage)
{
}

ProcessUtilsImplException::ProcessUtilsImplException(const ProcessUtilsImplException &other) = default;
ProcessUtilsImplException &
ProcessUtilsImplException::operator=(const ProcessUtilsImplException &other) = default;
ProcessUtilsImplException::~ProcessUtilsImplException() = default;

ProcessUtilsImplException *ProcessUtilsImplException::clone() const
{
    return new ProcessUtilsImplException(*this);
}

void ProcessUtilsImplException::raise() const
{
    throw *this;
}
