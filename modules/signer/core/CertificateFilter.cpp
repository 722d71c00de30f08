#include "CertificateFilter.h"

#include "SignerError.h"

namespace vyr::signer {
namespace {

constexpr qsizetype kMaxIssuerText = 256;

const QStringList &knownUsages()
{
    static const QStringList usages{QStringLiteral("digitalSignature"), QStringLiteral("nonRepudiation"),
                                    QStringLiteral("keyEncipherment"),  QStringLiteral("dataEncipherment"),
                                    QStringLiteral("keyAgreement"),     QStringLiteral("keyCertSign"),
                                    QStringLiteral("cRLSign"),          QStringLiteral("encipherOnly"),
                                    QStringLiteral("decipherOnly")};
    return usages;
}

[[noreturn]] void badInput(const QString &message)
{
    throw SignerError(SignerErrorCode::BadInput, message);
}

} // namespace

CertificateFilter CertificateFilter::fromRequest(const tRequestMap &request)
{
    CertificateFilter filter;
    for (const QByteArray &name : request.value("keyUsage").split(',')) {
        const QString usage = QString::fromUtf8(name.trimmed());
        if (usage.isEmpty())
            continue;
        if (!knownUsages().contains(usage))
            badInput(QStringLiteral("keyUsage: unknown usage (known: %1).").arg(knownUsages().join(u',')));
        filter.keyUsage.append(usage);
    }
    filter.issuerText = QString::fromUtf8(request.value("issuer")).trimmed();
    if (filter.issuerText.size() > kMaxIssuerText)
        badInput(QStringLiteral("issuer: at most %1 characters.").arg(kMaxIssuerText));
    const QByteArray validNow = request.value("validNow", "false");
    if (validNow != "true" && validNow != "false")
        badInput(QStringLiteral("validNow: true or false."));
    filter.validNow = validNow == "true";
    return filter;
}

bool CertificateFilter::matches(const CertificateInfo &info, const QDateTime &now) const
{
    // A certificate without the extension may be used for anything.
    for (const QString &usage : keyUsage)
        if (!info.keyUsage.isEmpty() && !info.keyUsage.contains(usage))
            return false;
    if (!issuerText.isEmpty() && !info.issuer.contains(issuerText, Qt::CaseInsensitive))
        return false;
    return !validNow || info.validAt(now);
}

} // namespace vyr::signer
