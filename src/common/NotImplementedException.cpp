#include "NotImplementedException.h"

NotImplementedException::NotImplementedException(const QString &message) : BaseException(message) {}
NotImplementedException::NotImplementedException(const QString &message, const BaseException &cause)
    : BaseException(message, cause)
{
}
NotImplementedException::NotImplementedException(const NotImplementedException &other) = default;
NotImplementedException &NotImplementedException::operator=(const NotImplementedException &other) = default;
NotImplementedException::~NotImplementedException() = default;

NotImplementedException *NotImplementedException::clone() const
{
    return new NotImplementedException(*this);
}

void NotImplementedException::raise() const
{
    throw *this;
}
