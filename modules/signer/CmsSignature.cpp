// Until the CMS builder (cms/) joins this module's build, SIGN_CMS answers that the format is
// not available; binding it is this one call.

#include "CmsSignature.h"

#include "core/SignerError.h"

QByteArray cmsSignature(SigningKey &, SignatureAlgorithm, const QByteArray &, bool)
{
    throw SignerError(SignerErrorCode::AlgorithmUnsupported,
                      QStringLiteral("CMS signatures are not available in this build."));
}
