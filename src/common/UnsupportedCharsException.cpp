#include "UnsupportedCharsException.h"

UnsupportedCharsException::UnsupportedCharsException(const QString &message) : BaseException(message) {}
UnsupportedCharsException::UnsupportedCharsException(const QString &message, const BaseException &cause)
    : BaseException(message, cause)
{
}
UnsupportedCharsException::UnsupportedCharsException(const UnsupportedCharsException &other) = default;
UnsupportedCharsException &
UnsupportedCharsException::operator=(const UnsupportedCharsException &other) = default;
UnsupportedCharsException::~UnsupportedCharsException() = default;

UnsupportedCharsException *UnsupportedCharsException::clone() const
{
    return new UnsupportedCharsException(*this);
}

void UnsupportedCharsException::raise() const
{
    throw *this;
}
