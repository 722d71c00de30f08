#include "SignerError.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

// The codes are the page's contract: renaming one breaks every page that acts on it.
QString codeName(SignerErrorCode code)
{
    switch (code) {
    case SignerErrorCode::Cancelled:
        return QStringLiteral("CANCELLED");
    case SignerErrorCode::PinIncorrect:
        return QStringLiteral("PIN_INCORRECT");
    case SignerErrorCode::PinLocked:
        return QStringLiteral("PIN_LOCKED");
    case SignerErrorCode::TokenAbsent:
        return QStringLiteral("TOKEN_ABSENT");
    case SignerErrorCode::CertificateNotFound:
        return QStringLiteral("CERTIFICATE_NOT_FOUND");
    case SignerErrorCode::AlgorithmUnsupported:
        return QStringLiteral("ALGORITHM_UNSUPPORTED");
    case SignerErrorCode::BadInput:
        return QStringLiteral("BAD_INPUT");
    case SignerErrorCode::StoreError:
        break;
    }
    return QStringLiteral("STORE_ERROR");
}

} // namespace

QByteArray SignerError::toJson() const
{
    const QJsonObject object{{QStringLiteral("code"), codeName(m_code)},
                             {QStringLiteral("message"), m_message}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
