#include "CertGenException.h"

#include <openssl/err.h>

CertGenException::CertGenException(const QString &message) : BaseException(message) {}
CertGenException::CertGenException(const CertGenException &other) = default;
CertGenException &CertGenException::operator=(const CertGenException &other) = default;
CertGenException::~CertGenException() = default;

CertGenException *CertGenException::clone() const
{
    return new CertGenException(*this);
}

void CertGenException::raise() const
{
    throw *this;
}

CertGenException CertGenException::fromOpenSsl(const QString &message)
{
    QString text = message;
    char buffer[256];
    for (unsigned long code = ERR_get_error(); code != 0; code = ERR_get_error()) {
        ERR_error_string_n(code, buffer, sizeof(buffer));
        text += QStringLiteral(": ") + QString::fromLatin1(buffer);
    }
    return CertGenException(text);
}
