#pragma once

#include "CertificateInfo.h"

#include <veltrane/VyrModuleInterface.h>

namespace vyr::signer {

// The page's optional filters on the listing:
//   keyUsage  names that must all be present, comma-separated ("nonRepudiation")
//   issuer    text the issuer's name contains, case ignored
//   validNow  "true": only certificates valid at this moment
struct CertificateFilter
{
    QStringList keyUsage;
    QString issuerText;
    bool validNow = false;

    // Throws BadInput for an unknown usage, an overlong issuer text or a validNow not a boolean.
    static CertificateFilter fromRequest(const tRequestMap &request);
    bool matches(const CertificateInfo &info, const QDateTime &now) const;
};

} // namespace vyr::signer
