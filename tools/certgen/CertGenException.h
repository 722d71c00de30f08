#pragma once

#include "common/BaseException.h"

// A provisioning step that failed; the message is what the user reads.
class CertGenException : public BaseException
{
public:
    explicit CertGenException(const QString &message);
    CertGenException(const CertGenException &other);
    CertGenException &operator=(const CertGenException &other);
    ~CertGenException() override;

    CertGenException *clone() const override;
    void raise() const override;

    // The message followed by OpenSSL's queued errors, which are consumed.
    static CertGenException fromOpenSsl(const QString &message);
};
