// The page reads the code; the message is for the person in front of it.

#include "core/SignerError.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {
const char *codeName(SignerErrorCode code)
{
    switch (code) {
    case SignerErrorCode::Cancelled:
        return "CANCELLED";
    case SignerErrorCode::PinIncorrect:
        return "PIN_INCORRECT";
    case SignerErrorCode::PinLocked:
        return "PIN_LOCKED";
    case SignerErrorCode::TokenAbsent:
        return "TOKEN_ABSENT";
    case SignerErrorCode::CertificateNotFound:
        return "CERTIFICATE_NOT_FOUND";
    case SignerErrorCode::AlgorithmUnsupported:
        return "ALGORITHM_UNSUPPORTED";
    case SignerErrorCode::BadInput:
        return "BAD_INPUT";
    case SignerErrorCode::StoreError:
        break;
    }
    return "STORE_ERROR";
}
} // namespace

QByteArray SignerError::toJson() const
{
    const QJsonObject object{{QStringLiteral("code"), QLatin1String(codeName(m_code))},
                             {QStringLiteral("message"), m_message}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
