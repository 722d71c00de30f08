#include "BaseException.h"

BaseException::BaseException(const QString &message)
{
    setMessage(message);
}

BaseException::BaseException(const QString &message, const BaseException &cause) : m_oCause(cause.clone())
{
    setMessage(message);
}

BaseException::BaseException(const BaseException &other) = default;
BaseException &BaseException::operator=(const BaseException &other) = default;
BaseException::~BaseException() = default;

BaseException *BaseException::clone() const
{
    return new BaseException(*this);
}

void BaseException::raise() const
{
    throw *this;
}

const char *BaseException::what() const noexcept
{
    return m_oWhatMessage.constData();
}

void BaseException::setMessage(const QString &message)
{
    m_oMessage = message;
    m_oWhatMessage = message.toLocal8Bit();
    generateStackTrace();
}

void BaseException::setCause(const BaseException &cause)
{
    m_oCause.reset(cause.clone());
    generateStackTrace();
}

void BaseException::generateStackTrace()
{
    m_oStackTrace =
        m_oCause ? QStringLiteral("%1\n\t%2").arg(m_oMessage, m_oCause->getStackTrace()) : m_oMessage;
}
