#pragma once

#include "BaseException.h"

class VYR_SERVER_CLASS NotImplementedException : public BaseException
{
public:
    explicit NotImplementedException(const QString &message);
    NotImplementedException(const QString &message, const BaseException &cause);
    NotImplementedException(const NotImplementedException &other);
    NotImplementedException &operator=(const NotImplementedException &other);
    ~NotImplementedException() override;

    NotImplementedException *clone() const override;
    void raise() const override;
};
