#pragma once

#include "Pkcs11Session.h"
#include "SigningKey.h"

namespace vyr::signer {

// Where on a token a key lives, as the listing found it.
struct Pkcs11KeyLocation
{
    ck_slot_id_t slot = 0;
    ck_flags_t tokenFlags = 0;
    QByteArray objectId;                 // CKA_ID shared by certificate and private key
    QList<QByteArray> tokenCertificates; // every certificate on the token, for the chain
};

// A private key on a token: it never leaves it, every signature is C_Sign there. The thread
// that runs the signing command.
class Pkcs11Key : public SigningKey
{
public:
    Pkcs11Key(std::shared_ptr<Pkcs11Library> library, QByteArray certificate, Pkcs11KeyLocation location);
    ~Pkcs11Key() override;
    Pkcs11Key(const Pkcs11Key &) = delete;
    Pkcs11Key &operator=(const Pkcs11Key &) = delete;

    QByteArray certificate() const override { return m_certificate; }
    QList<QByteArray> chain() const override;
    SecretKind secretKind() const override;
    LoginResult login(const QByteArray &secret) override;
    bool secretLocked() const override { return (m_location.tokenFlags & CKF_USER_PIN_LOCKED) != 0; }
    QByteArray signDigest(SignatureAlgorithm algorithm, DigestAlgorithm digest,
                          const QByteArray &digestValue) override;

private:
    ck_flags_t currentTokenFlags() const;
    const Pkcs11Session &session();
    void findPrivateKey(const QByteArray &secret);

    std::shared_ptr<Pkcs11Library> m_library;
    QByteArray m_certificate;
    Pkcs11KeyLocation m_location;
    std::optional<Pkcs11Session> m_session;
    std::optional<ck_object_handle_t> m_privateKey; // set once logged in
    QByteArray m_contextPin; // only for keys that want the PIN again for every signature; wiped
};

} // namespace vyr::signer
