#include "CertificateJson.h"

#include "core/SignerError.h"

#include <QSslCertificate>
#include <QSslKey>

SignatureAlgorithm algorithmForCertificate(const QByteArray &certificateDer,
                                           std::optional<SignatureAlgorithm> requested)
{
    const QSsl::KeyAlgorithm keyType = QSslCertificate(certificateDer, QSsl::Der).publicKey().algorithm();
    if (keyType == QSsl::Rsa && requested != SignatureAlgorithm::Ecdsa)
        return requested.value_or(SignatureAlgorithm::RsaPkcs1v15);
    if (keyType == QSsl::Ec && requested.value_or(SignatureAlgorithm::Ecdsa) == SignatureAlgorithm::Ecdsa)
        return SignatureAlgorithm::Ecdsa;
    throw SignerError(SignerErrorCode::AlgorithmUnsupported,
                      QStringLiteral("This certificate's key cannot sign with that algorithm."));
}
