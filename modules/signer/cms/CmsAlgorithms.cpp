#include "CmsAlgorithms.h"

#include "DerWriter.h"
#include "core/SignatureAlgorithms.h"
#include "core/SignerError.h"

namespace cms {
namespace {

struct DigestRow
{
    DigestAlgorithm algorithm;
    const char *digestOid;
    const char *rsaOid;
    const char *ecdsaOid;
};

constexpr DigestRow kDigests[] = {
    {DigestAlgorithm::Sha256, "2.16.840.1.101.3.4.2.1", "1.2.840.113549.1.1.11", "1.2.840.10045.4.3.2"},
    {DigestAlgorithm::Sha384, "2.16.840.1.101.3.4.2.2", "1.2.840.113549.1.1.12", "1.2.840.10045.4.3.3"},
    {DigestAlgorithm::Sha512, "2.16.840.1.101.3.4.2.3", "1.2.840.113549.1.1.13", "1.2.840.10045.4.3.4"},
};

constexpr const char *kRsassaPss = "1.2.840.113549.1.1.10";
constexpr const char *kMgf1 = "1.2.840.113549.1.1.8";

const DigestRow &rowOf(DigestAlgorithm algorithm)
{
    for (const DigestRow &row : kDigests) {
        if (row.algorithm == algorithm)
            return row;
    }
    throw SignerError(SignerErrorCode::AlgorithmUnsupported, QStringLiteral("Unknown digest algorithm."));
}

QByteArray pssParameters(DigestAlgorithm digest)
{
    const QByteArray hash = digestAlgorithmIdentifier(digest);
    return der::sequence({
        der::explicitTag(0, hash),
        der::explicitTag(1, der::sequence({der::objectIdentifier(kMgf1), hash})),
        der::explicitTag(2, der::integer(vyr::signer::digestLength(digest))),
    });
}

} // namespace

QByteArray digestAlgorithmIdentifier(DigestAlgorithm algorithm)
{
    return der::sequence({der::objectIdentifier(rowOf(algorithm).digestOid)});
}

QByteArray signatureAlgorithmIdentifier(SignatureAlgorithm signature, DigestAlgorithm digest)
{
    switch (signature) {
    case SignatureAlgorithm::RsaPkcs1v15:
        return der::sequence({der::objectIdentifier(rowOf(digest).rsaOid), der::null()});
    case SignatureAlgorithm::RsaPss:
        return der::sequence({der::objectIdentifier(kRsassaPss), pssParameters(digest)});
    case SignatureAlgorithm::Ecdsa:
        return der::sequence({der::objectIdentifier(rowOf(digest).ecdsaOid)});
    }
    throw SignerError(SignerErrorCode::AlgorithmUnsupported, QStringLiteral("Unknown signature algorithm."));
}

} // namespace cms
