#include "CertificateChain.h"

#include "SignerOpenSsl.h"

#include <openssl/x509v3.h>
#include <vector>

namespace vyr::signer {
namespace {

// Deeper than any real hierarchy; a loop in a hostile pool ends here too.
constexpr int kMaxChainLength = 10;

} // namespace

QList<QByteArray> chainAbove(const QByteArray &leaf, const QList<QByteArray> &pool)
{
    std::vector<X509Ptr> candidates;
    for (const QByteArray &der : pool)
        if (X509Ptr certificate = parseCertificate(der))
            candidates.push_back(std::move(certificate));
    QList<QByteArray> chain;
    X509Ptr current = parseCertificate(leaf);
    while (current && chain.size() < kMaxChainLength &&
           X509_check_issued(current.get(), current.get()) != X509_V_OK) {
        X509 *issuer = nullptr;
        for (const X509Ptr &candidate : candidates)
            if (X509_cmp(candidate.get(), current.get()) != 0 &&
                X509_check_issued(candidate.get(), current.get()) == X509_V_OK)
                issuer = candidate.get();
        if (!issuer || chain.contains(certificateDer(issuer)))
            break;
        chain.append(certificateDer(issuer));
        X509_up_ref(issuer);
        current.reset(issuer);
    }
    return chain;
}

} // namespace vyr::signer
