#pragma once

#include "Pkcs11.h"

#include <QList>
#include <QString>
#include <memory>

namespace vyr::signer {

// One PKCS#11 library, loaded and initialised for as long as a listing or an opened key
// uses it; the last user finalises it, so the next use sees readers and tokens afresh.
// Any thread: the registry behind open() is guarded by one mutex, and we ask the library
// for its own locking.
class Pkcs11Library
{
public:
    // nullptr, after a log line, for a path that is no PKCS#11 library or will not start.
    // `configuration` goes to C_Initialize for libraries that take one (NSS's own module).
    static std::shared_ptr<Pkcs11Library> open(const QString &path, const QByteArray &configuration = {});
    ~Pkcs11Library();
    Pkcs11Library(const Pkcs11Library &) = delete;
    Pkcs11Library &operator=(const Pkcs11Library &) = delete;

    const QString &path() const { return m_path; }
    struct ck_function_list *functions() const { return m_functions; }
    // Slots that hold a token now; empty (and logged) when the library cannot tell.
    QList<ck_slot_id_t> slotsWithToken() const;

private:
    Pkcs11Library(QString path, QString registryKey, struct ck_function_list *functions);

    QString m_path;
    QString m_registryKey;
    struct ck_function_list *m_functions;
};

} // namespace vyr::signer
