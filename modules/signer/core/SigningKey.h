#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <memory>
#include <optional>

// The agreement between the key stores (PKCS#11 tokens, PKCS#12 files), the signature
// formats (raw, CMS) and the dialogs. A store lists what it holds and opens one key by its id;
// the key is unlocked with a secret the user typed into our dialog, never one from a page.

enum class DigestAlgorithm
{
    Sha256,
    Sha384,
    Sha512
};
enum class SignatureAlgorithm
{
    RsaPkcs1v15,
    RsaPss,
    Ecdsa
};

// One certificate with a usable private key, as the listing shows it.
struct CertificateEntry
{
    QByteArray id;          // opaque and stable across runs: the same key and certificate, the same id
    QByteArray certificate; // DER
    QString storeLabel;     // token label or PKCS#12 file name
};

// How the secret went: tries left only where the token reports them.
struct LoginResult
{
    enum class Outcome
    {
        Ok,
        Incorrect,
        Locked
    } outcome = Outcome::Ok;
    std::optional<int> triesLeft;
};

class SigningKey
{
public:
    enum class SecretKind
    {
        None,
        Pin,
        Password
    };

    virtual ~SigningKey() = default;
    virtual QByteArray certificate() const = 0; // DER
    // The certificates above it that the store holds, nearest issuer first (DER each).
    virtual QList<QByteArray> chain() const = 0;
    virtual SecretKind secretKind() const = 0;
    // Called again after Incorrect with the next try; never after Locked.
    virtual LoginResult login(const QByteArray &secret) = 0;
    // Known locked before any try (a token says so): the user is told, never asked for it.
    virtual bool secretLocked() const { return false; }
    // Signs a digest already computed with `digest` (its length matches the algorithm):
    // PKCS#1 v1.5 over the DigestInfo, PSS with MGF1 of the same digest and salt of its length,
    // ECDSA as a DER SEQUENCE of r and s. Throws SignerError (AlgorithmUnsupported for a key
    // that cannot, TokenAbsent when the token went away, StoreError otherwise).
    virtual QByteArray signDigest(SignatureAlgorithm algorithm, DigestAlgorithm digest,
                                  const QByteArray &digestValue) = 0;
    // The digests of a batch signed, answered in their order. By default one after another, as
    // a token must: a PKCS#11 session serves one thread at a time.
    virtual QList<QByteArray> signDigests(SignatureAlgorithm algorithm, DigestAlgorithm digest,
                                          const QList<QByteArray> &digestValues)
    {
        QList<QByteArray> signatures;
        signatures.reserve(digestValues.size());
        for (const QByteArray &digestValue : digestValues)
            signatures.append(signDigest(algorithm, digest, digestValue));
        return signatures;
    }
};

class KeyStore
{
public:
    virtual ~KeyStore() = default;
    virtual QString label() const = 0;
    // A store that cannot be read lists nothing and logs why; it never fails the others.
    virtual QList<CertificateEntry> list() = 0;
    // nullptr when the id is not this store's.
    virtual std::unique_ptr<SigningKey> open(const QByteArray &id) = 0;
};
