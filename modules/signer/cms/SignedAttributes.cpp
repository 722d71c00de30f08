#include "SignedAttributes.h"

#include "CmsAlgorithms.h"
#include "DerWriter.h"
#include "SignerCertificate.h"

namespace cms {
namespace {

QByteArray attribute(const char *type, const QByteArray &value)
{
    return der::sequence({der::objectIdentifier(type), der::setOf({value})});
}

} // namespace

QByteArray signedAttributes(const QByteArray &contentDigest, const SignerCertificate &signer,
                            const std::optional<QDateTime> &signingTime)
{
    QList<QByteArray> attributes{
        attribute(oid::contentType, der::objectIdentifier(oid::data)),
        attribute(oid::messageDigest, der::octetString(contentDigest)),
        attribute(oid::signingCertificateV2, der::sequence({der::sequence({signer.essCertIdV2()})})),
    };
    if (signingTime)
        attributes.append(attribute(oid::signingTime, der::time(*signingTime)));
    return der::setOf(attributes);
}

} // namespace cms
