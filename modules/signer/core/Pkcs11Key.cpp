#include "Pkcs11Key.h"

#include "CertificateChain.h"
#include "SignatureAlgorithms.h"
#include "SignerError.h"
#include "SignerLog.h"

#include <openssl/crypto.h>

namespace vyr::signer {
namespace {

struct PssParameters
{
    ck_mechanism_type_t hash;
    ck_rsa_pkcs_mgf_type_t mgf;
};

PssParameters pssParameters(DigestAlgorithm digest)
{
    switch (digest) {
    case DigestAlgorithm::Sha384:
        return {CKM_SHA384, CKG_MGF1_SHA384};
    case DigestAlgorithm::Sha512:
        return {CKM_SHA512, CKG_MGF1_SHA512};
    case DigestAlgorithm::Sha256:
        break;
    }
    return {CKM_SHA256, CKG_MGF1_SHA256};
}

// Tokens report no count, only that few are left or just one; locked is none.
std::optional<int> triesLeft(ck_flags_t flags)
{
    if ((flags & CKF_USER_PIN_LOCKED) != 0)
        return 0;
    if ((flags & CKF_USER_PIN_FINAL_TRY) != 0)
        return 1;
    return std::nullopt;
}

} // namespace

Pkcs11Key::Pkcs11Key(std::shared_ptr<Pkcs11Library> library, QByteArray certificate,
                     Pkcs11KeyLocation location)
    : m_library(std::move(library)), m_certificate(std::move(certificate)), m_location(std::move(location))
{
}

Pkcs11Key::~Pkcs11Key()
{
    OPENSSL_cleanse(m_contextPin.data(), static_cast<size_t>(m_contextPin.size()));
}

QList<QByteArray> Pkcs11Key::chain() const
{
    return chainAbove(m_certificate, m_location.tokenCertificates);
}

SigningKey::SecretKind Pkcs11Key::secretKind() const
{
    const ck_flags_t flags = m_location.tokenFlags;
    // A reader with its own PIN pad asks the user itself; we never see that PIN.
    if ((flags & CKF_LOGIN_REQUIRED) == 0 || (flags & CKF_PROTECTED_AUTHENTICATION_PATH) != 0)
        return SecretKind::None;
    return SecretKind::Pin;
}

ck_flags_t Pkcs11Key::currentTokenFlags() const
{
    struct ck_token_info info = {};
    const ck_rv_t rv = m_library->functions()->C_GetTokenInfo(m_location.slot, &info);
    if (rv != CKR_OK)
        throwPkcs11Failure(rv == CKR_SLOT_ID_INVALID ? CKR_TOKEN_NOT_PRESENT : rv, "C_GetTokenInfo");
    return info.flags;
}

const Pkcs11Session &Pkcs11Key::session()
{
    if (!m_session)
        if (std::optional<Pkcs11Session> opened = Pkcs11Session::open(m_library, m_location.slot))
            m_session.emplace(std::move(*opened));
    if (!m_session)
        throw SignerError(SignerErrorCode::TokenAbsent, QStringLiteral("The token could not be opened."));
    return *m_session;
}

LoginResult Pkcs11Key::login(const QByteArray &secret)
{
    if (m_privateKey)
        return {};
    // A locked PIN is never tried: every try could count against the unblocking code.
    const ck_flags_t flags = currentTokenFlags();
    if ((flags & CKF_USER_PIN_LOCKED) != 0)
        return {LoginResult::Outcome::Locked, 0};
    const ck_rv_t rv = (flags & CKF_LOGIN_REQUIRED) != 0 ? session().login(CKU_USER, secret) : CKR_OK;
    switch (rv) {
    case CKR_OK:
    case CKR_USER_ALREADY_LOGGED_IN:
        findPrivateKey(secret);
        return {};
    case CKR_PIN_INCORRECT:
    case CKR_PIN_INVALID:
    case CKR_PIN_LEN_RANGE:
        return {LoginResult::Outcome::Incorrect, triesLeft(currentTokenFlags())};
    case CKR_PIN_LOCKED:
        return {LoginResult::Outcome::Locked, 0};
    default:
        throwPkcs11Failure(rv, "C_Login");
    }
}

void Pkcs11Key::findPrivateKey(const QByteArray &secret)
{
    const QList<ck_object_handle_t> keys = session().find(CKO_PRIVATE_KEY, &m_location.objectId);
    if (keys.isEmpty())
        throw SignerError(SignerErrorCode::StoreError,
                          QStringLiteral("The token holds no private key for this certificate."));
    m_privateKey = keys.first();
    if (session().attribute(*m_privateKey, CKA_ALWAYS_AUTHENTICATE) == QByteArray(1, char(kCkTrue)))
        m_contextPin = secret;
}

QByteArray Pkcs11Key::signDigest(SignatureAlgorithm algorithm, DigestAlgorithm digest,
                                 const QByteArray &digestValue)
{
    requireKeySupports(algorithm, m_certificate);
    requireDigestLength(digest, digestValue);
    if (!m_privateKey && secretKind() == SecretKind::None)
        login({});
    if (!m_privateKey)
        throw SignerError(SignerErrorCode::StoreError, QStringLiteral("The token is not unlocked."));
    const QByteArray *contextPin = m_contextPin.isEmpty() ? nullptr : &m_contextPin;
    const PssParameters pss = pssParameters(digest);
    struct ck_rsa_pkcs_pss_params pssParams = {pss.hash, pss.mgf,
                                               static_cast<unsigned long>(digestValue.size())};
    struct ck_mechanism mechanism = {CKM_RSA_PKCS, nullptr, 0};
    switch (algorithm) {
    case SignatureAlgorithm::RsaPkcs1v15:
        return session().sign(*m_privateKey, mechanism, digestInfo(digest, digestValue), contextPin);
    case SignatureAlgorithm::RsaPss:
        mechanism = {CKM_RSA_PKCS_PSS, &pssParams, sizeof pssParams};
        return session().sign(*m_privateKey, mechanism, digestValue, contextPin);
    case SignatureAlgorithm::Ecdsa:
        mechanism = {CKM_ECDSA, nullptr, 0};
        return ecdsaRawToDer(session().sign(*m_privateKey, mechanism, digestValue, contextPin));
    }
    throw SignerError(SignerErrorCode::AlgorithmUnsupported, QStringLiteral("Unknown signature algorithm."));
}

} // namespace vyr::signer
