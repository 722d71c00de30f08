#include "SignerOpenSsl.h"

#include <limits>

namespace vyr::signer {

X509Ptr parseCertificate(const QByteArray &der)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(der.constData());
    X509Ptr certificate(d2i_X509(nullptr, &bytes, der.size()));
    // Trailing bytes mean it was not one certificate but something that starts like one.
    if (certificate && bytes != reinterpret_cast<const unsigned char *>(der.constData()) + der.size())
        return nullptr;
    return certificate;
}

QByteArray certificateDer(X509 *certificate)
{
    const int length = i2d_X509(certificate, nullptr);
    if (length <= 0)
        return {};
    QByteArray der(length, Qt::Uninitialized);
    auto *out = reinterpret_cast<unsigned char *>(der.data());
    i2d_X509(certificate, &out);
    return der;
}

} // namespace vyr::signer
