#pragma once

#include "Pkcs11Library.h"

#include <QByteArray>
#include <QList>
#include <memory>
#include <optional>

namespace vyr::signer {

// Throws the SignerError a page should see for a failed PKCS#11 call: TokenAbsent when the
// token went away, AlgorithmUnsupported when it cannot make that signature, StoreError else.
[[noreturn]] void throwPkcs11Failure(ck_rv_t rv, const char *call);

// A read-only session on one token, closed on every path. The owner's thread only.
class Pkcs11Session
{
public:
    // nullopt when the token cannot be opened (gone, or broken: logged).
    static std::optional<Pkcs11Session> open(std::shared_ptr<Pkcs11Library> library, ck_slot_id_t slot);
    Pkcs11Session(Pkcs11Session &&other) noexcept;
    Pkcs11Session &operator=(Pkcs11Session &&) = delete;
    Pkcs11Session(const Pkcs11Session &) = delete;
    Pkcs11Session &operator=(const Pkcs11Session &) = delete;
    ~Pkcs11Session();

    // Objects of one class, optionally with one CKA_ID; at most a bounded number.
    QList<ck_object_handle_t> find(ck_object_class_t objectClass, const QByteArray *id = nullptr) const;
    // The attribute's bytes; empty when the object has none or hides it.
    QByteArray attribute(ck_object_handle_t object, ck_attribute_type_t type) const;
    ck_rv_t login(ck_user_type_t user, const QByteArray &secret) const;
    // Throws through throwPkcs11Failure.
    QByteArray sign(ck_object_handle_t key, struct ck_mechanism &mechanism, const QByteArray &input,
                    const QByteArray *contextPin) const;
    struct ck_function_list *functions() const { return m_library->functions(); }

private:
    Pkcs11Session(std::shared_ptr<Pkcs11Library> library, ck_session_handle_t handle);

    std::shared_ptr<Pkcs11Library> m_library;
    ck_session_handle_t m_handle;
    bool m_open = true;
};

// The token's printable fields, trailing blanks gone.
QByteArray tokenText(const unsigned char *field, size_t size);

} // namespace vyr::signer
