#pragma once

#include "BaseException.h"

class VYR_SERVER_CLASS UnsupportedCharsException : public BaseException
{
public:
    explicit UnsupportedCharsException(const QString &message);
    UnsupportedCharsException(const QString &message, const BaseException &cause);
    UnsupportedCharsException(const UnsupportedCharsException &other);
    UnsupportedCharsException &operator=(const UnsupportedCharsException &other);
    ~UnsupportedCharsException() override;

    UnsupportedCharsException *clone() const override;
    void raise() const override;
};
