#include "Pkcs11Store.h"

#include "CertificateInfo.h"
#include "KeyId.h"
#include "Pkcs11Key.h"
#include "Pkcs11Library.h"
#include "Pkcs11Session.h"
#include "SignerError.h"
#include "SignerLog.h"

namespace vyr::signer {

struct TokenCertificate
{
    CertificateEntry entry;
    Pkcs11KeyLocation location;
};

namespace {

struct TokenFacts
{
    ck_slot_id_t slot = 0;
    ck_flags_t flags = 0;
    QByteArray identity; // manufacturer, model and serial: stable while slot numbers are not
    QString label;
};

std::optional<TokenFacts> tokenFacts(const Pkcs11Library &library, ck_slot_id_t slot)
{
    struct ck_token_info info = {};
    // A blank token in a reader (or a free slot of a software token) holds nothing yet.
    if (library.functions()->C_GetTokenInfo(slot, &info) != CKR_OK ||
        (info.flags & CKF_TOKEN_INITIALIZED) == 0)
        return std::nullopt;
    TokenFacts facts{slot, info.flags, {}, {}};
    facts.identity = tokenText(info.manufacturer_id, sizeof info.manufacturer_id) + '/' +
                     tokenText(info.model, sizeof info.model) + '/' +
                     tokenText(info.serial_number, sizeof info.serial_number);
    facts.label = QString::fromUtf8(tokenText(info.label, sizeof info.label));
    return facts;
}

// Where private keys hide until login, a certificate with an id and no authority of its own
// is taken to have its key; a wrong guess ends at login with a clear error.
bool hasUsableKey(const Pkcs11Session &session, const TokenFacts &token, const QByteArray &objectId,
                  const CertificateInfo &info)
{
    if (!session.find(CKO_PRIVATE_KEY, &objectId).isEmpty())
        return true;
    return (token.flags & CKF_LOGIN_REQUIRED) != 0 && !objectId.isEmpty() && !info.isAuthority;
}

QList<TokenCertificate> tokenCertificates(const Pkcs11Session &session, const TokenFacts &token)
{
    QList<QByteArray> all;
    QList<QPair<QByteArray, QByteArray>> withKey; // object id, DER
    for (const ck_object_handle_t object : session.find(CKO_CERTIFICATE)) {
        const QByteArray der = session.attribute(object, CKA_VALUE);
        const std::optional<CertificateInfo> info = CertificateInfo::fromDer(der);
        if (!info)
            continue;
        all.append(der);
        const QByteArray objectId = session.attribute(object, CKA_ID);
        if (hasUsableKey(session, token, objectId, *info))
            withKey.append({objectId, der});
    }
    QList<TokenCertificate> result;
    for (const auto &[objectId, der] : withKey) {
        const CertificateEntry entry{makeKeyId("pkcs11", token.identity, der), der, token.label};
        result.append({entry, {token.slot, token.flags, objectId, all}});
    }
    return result;
}

} // namespace

Pkcs11Store::Pkcs11Store(QString libraryPath, QByteArray configuration)
    : m_libraryPath(std::move(libraryPath)), m_configuration(std::move(configuration))
{
}

QList<TokenCertificate> Pkcs11Store::scan(const std::shared_ptr<Pkcs11Library> &library) const
{
    QList<TokenCertificate> found;
    for (const ck_slot_id_t slot : library->slotsWithToken()) {
        const std::optional<TokenFacts> token = tokenFacts(*library, slot);
        if (!token)
            continue;
        if (const std::optional<Pkcs11Session> session = Pkcs11Session::open(library, slot))
            found.append(tokenCertificates(*session, *token));
    }
    return found;
}

QList<CertificateEntry> Pkcs11Store::list()
{
    QList<CertificateEntry> entries;
    const std::shared_ptr<Pkcs11Library> library = Pkcs11Library::open(m_libraryPath, m_configuration);
    if (!library)
        return entries;
    for (const TokenCertificate &found : scan(library)) {
        entries.append(found.entry);
        m_listedIds.insert(found.entry.id);
    }
    return entries;
}

std::unique_ptr<SigningKey> Pkcs11Store::open(const QByteArray &id)
{
    const std::shared_ptr<Pkcs11Library> library = Pkcs11Library::open(m_libraryPath, m_configuration);
    if (library)
        for (const TokenCertificate &found : scan(library))
            if (found.entry.id == id)
                return std::make_unique<Pkcs11Key>(library, found.entry.certificate, found.location);
    if (m_listedIds.contains(id))
        throw SignerError(SignerErrorCode::TokenAbsent,
                          QStringLiteral("The token that holds this certificate is no longer there."));
    return nullptr;
}

} // namespace vyr::signer
