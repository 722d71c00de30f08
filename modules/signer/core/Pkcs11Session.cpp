#include "Pkcs11Session.h"

#include "SignerError.h"
#include "SignerLog.h"

#include <array>

namespace vyr::signer {
namespace {

// More objects of one kind than any token holds; a hostile library cannot make us loop.
constexpr unsigned long kMaxObjects = 256;
// Certificates and ids are far below this; a larger answer is a broken library.
constexpr unsigned long kMaxAttributeBytes = 64UL * 1024;
constexpr unsigned long kMaxSignatureBytes = 2048;

unsigned char *bytes(QByteArray &array)
{
    return reinterpret_cast<unsigned char *>(array.data());
}

// PKCS#11 takes inputs through non-const pointers that it only reads; passing ours avoids a
// copy of a PIN that would then have to be wiped as well.
unsigned char *readOnly(const QByteArray &array)
{
    return const_cast<unsigned char *>(reinterpret_cast<const unsigned char *>(array.constData()));
}

} // namespace

void throwPkcs11Failure(ck_rv_t rv, const char *call)
{
    const QString where = QStringLiteral("%1 failed (0x%2)").arg(QLatin1String(call)).arg(rv, 0, 16);
    switch (rv) {
    case CKR_DEVICE_REMOVED:
    case CKR_TOKEN_NOT_PRESENT:
    case CKR_SESSION_HANDLE_INVALID:
    case CKR_SESSION_CLOSED:
    case CKR_SLOT_ID_INVALID:
        throw SignerError(SignerErrorCode::TokenAbsent, QStringLiteral("The token was removed: ") + where);
    case CKR_MECHANISM_INVALID:
    case CKR_MECHANISM_PARAM_INVALID:
    case CKR_KEY_TYPE_INCONSISTENT:
    case CKR_KEY_FUNCTION_NOT_PERMITTED:
        throw SignerError(SignerErrorCode::AlgorithmUnsupported,
                          QStringLiteral("The token cannot make this signature with this key: ") + where);
    default:
        throw SignerError(SignerErrorCode::StoreError, QStringLiteral("The token refused: ") + where);
    }
}

std::optional<Pkcs11Session> Pkcs11Session::open(std::shared_ptr<Pkcs11Library> library, ck_slot_id_t slot)
{
    ck_session_handle_t handle = 0;
    const ck_rv_t rv =
        library->functions()->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &handle);
    if (rv != CKR_OK) {
        qCWarning(lcSigner) << "PKCS#11 token not opened:" << library->path() << "slot" << slot << Qt::hex
                            << rv;
        return std::nullopt;
    }
    return Pkcs11Session(std::move(library), handle);
}

Pkcs11Session::Pkcs11Session(std::shared_ptr<Pkcs11Library> library, ck_session_handle_t handle)
    : m_library(std::move(library)), m_handle(handle)
{
}

Pkcs11Session::Pkcs11Session(Pkcs11Session &&other) noexcept
    : m_library(std::move(other.m_library)), m_handle(other.m_handle), m_open(other.m_open)
{
    other.m_open = false;
}

Pkcs11Session::~Pkcs11Session()
{
    // Closing the last session also ends the login: the token is locked again.
    if (m_open)
        functions()->C_CloseSession(m_handle);
}

QList<ck_object_handle_t> Pkcs11Session::find(ck_object_class_t objectClass, const QByteArray *id) const
{
    QByteArray idCopy = id ? *id : QByteArray();
    std::array<struct ck_attribute, 2> pattern{{
        {CKA_CLASS, &objectClass, sizeof objectClass},
        {CKA_ID, idCopy.data(), static_cast<unsigned long>(idCopy.size())},
    }};
    if (functions()->C_FindObjectsInit(m_handle, pattern.data(), id ? 2 : 1) != CKR_OK)
        return {};
    std::array<ck_object_handle_t, kMaxObjects> found{};
    unsigned long count = 0;
    const ck_rv_t rv = functions()->C_FindObjects(m_handle, found.data(), kMaxObjects, &count);
    functions()->C_FindObjectsFinal(m_handle);
    if (rv != CKR_OK)
        return {};
    return QList<ck_object_handle_t>(found.begin(), found.begin() + std::min(count, kMaxObjects));
}

QByteArray Pkcs11Session::attribute(ck_object_handle_t object, ck_attribute_type_t type) const
{
    struct ck_attribute query = {type, nullptr, 0};
    if (functions()->C_GetAttributeValue(m_handle, object, &query, 1) != CKR_OK ||
        query.value_len > kMaxAttributeBytes)
        return {};
    QByteArray value(static_cast<qsizetype>(query.value_len), Qt::Uninitialized);
    query.value = value.data();
    if (functions()->C_GetAttributeValue(m_handle, object, &query, 1) != CKR_OK)
        return {};
    value.truncate(static_cast<qsizetype>(query.value_len));
    return value;
}

ck_rv_t Pkcs11Session::login(ck_user_type_t user, const QByteArray &secret) const
{
    // An empty secret on a reader with its own PIN pad: the reader asks.
    return functions()->C_Login(m_handle, user, secret.isEmpty() ? nullptr : readOnly(secret),
                                static_cast<unsigned long>(secret.size()));
}

QByteArray Pkcs11Session::sign(ck_object_handle_t key, struct ck_mechanism &mechanism,
                               const QByteArray &input, const QByteArray *contextPin) const
{
    ck_rv_t rv = functions()->C_SignInit(m_handle, &mechanism, key);
    if (rv != CKR_OK)
        throwPkcs11Failure(rv, "C_SignInit");
    // A key that asks for the PIN before every signature (qualified signature keys).
    if (contextPin) {
        rv = login(CKU_CONTEXT_SPECIFIC, *contextPin);
        if (rv != CKR_OK)
            throwPkcs11Failure(rv, "C_Login for the signature");
    }
    QByteArray signature(kMaxSignatureBytes, Qt::Uninitialized);
    unsigned long length = kMaxSignatureBytes;
    rv = functions()->C_Sign(m_handle, readOnly(input), static_cast<unsigned long>(input.size()),
                             bytes(signature), &length);
    if (rv != CKR_OK)
        throwPkcs11Failure(rv, "C_Sign");
    signature.truncate(static_cast<qsizetype>(std::min(length, kMaxSignatureBytes)));
    return signature;
}

QByteArray tokenText(const unsigned char *field, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(field), static_cast<qsizetype>(size)).trimmed();
}

} // namespace vyr::signer
