#include "Pkcs11Library.h"

#include "SignerLog.h"

#include <QHash>
#include <QLibrary>
#include <QMutex>
#include <QMutexLocker>
#include <vector>

namespace vyr::signer {
namespace {

// A library stays mapped once loaded: unmapping code that other parts of the process (the
// proxy's other modules, OpenSSL engines) may still point into is not worth the memory.
struct LoadedLibrary
{
    struct ck_function_list *functions = nullptr;
    int users = 0;
    bool ownsInitialisation = true;
};

// Both are used from any thread, always under the mutex.
QMutex registryMutex;
QHash<QString, LoadedLibrary> registry;

struct ck_function_list *loadFunctions(const QString &path)
{
    QLibrary library(path);
    if (!library.load()) {
        qCWarning(lcSigner) << "PKCS#11 library skipped, it does not load:" << path << library.errorString();
        return nullptr;
    }
    const auto getList = reinterpret_cast<CK_C_GetFunctionList>(library.resolve("C_GetFunctionList"));
    struct ck_function_list *functions = nullptr;
    if (!getList || getList(&functions) != CKR_OK || !functions || !functions->C_Initialize) {
        qCWarning(lcSigner) << "PKCS#11 library skipped, it is no PKCS#11 library:" << path;
        return nullptr;
    }
    return functions;
}

// Returns false when the library will not start; true also when someone else in this
// process started it already (then it is not ours to finalise).
bool initialise(LoadedLibrary &loaded, const QString &path, const QByteArray &configuration)
{
    struct ck_c_initialize_args arguments = {};
    arguments.flags = CKF_OS_LOCKING_OK;
    // Only read by the library, during this call.
    arguments.reserved = configuration.isEmpty() ? nullptr : const_cast<char *>(configuration.constData());
    const ck_rv_t rv = loaded.functions->C_Initialize(&arguments);
    loaded.ownsInitialisation = rv == CKR_OK;
    if (rv == CKR_OK || rv == CKR_CRYPTOKI_ALREADY_INITIALIZED)
        return true;
    qCWarning(lcSigner) << "PKCS#11 library skipped, C_Initialize failed:" << path << Qt::hex << rv;
    return false;
}

} // namespace

std::shared_ptr<Pkcs11Library> Pkcs11Library::open(const QString &path, const QByteArray &configuration)
{
    const QString key = path + u'\n' + QString::fromUtf8(configuration);
    const QMutexLocker lock(&registryMutex);
    LoadedLibrary &loaded = registry[key];
    if (loaded.users == 0) {
        if (!loaded.functions)
            loaded.functions = loadFunctions(path);
        if (!loaded.functions || !initialise(loaded, path, configuration))
            return nullptr;
    }
    ++loaded.users;
    return std::shared_ptr<Pkcs11Library>(new Pkcs11Library(path, key, loaded.functions));
}

Pkcs11Library::Pkcs11Library(QString path, QString registryKey, struct ck_function_list *functions)
    : m_path(std::move(path)), m_registryKey(std::move(registryKey)), m_functions(functions)
{
}

Pkcs11Library::~Pkcs11Library()
{
    const QMutexLocker lock(&registryMutex);
    LoadedLibrary &loaded = registry[m_registryKey];
    if (--loaded.users == 0 && loaded.ownsInitialisation)
        m_functions->C_Finalize(nullptr);
}

QList<ck_slot_id_t> Pkcs11Library::slotsWithToken() const
{
    unsigned long count = 0;
    if (m_functions->C_GetSlotList(kCkTrue, nullptr, &count) != CKR_OK) {
        qCWarning(lcSigner) << "PKCS#11 library lists no slots:" << m_path;
        return {};
    }
    // A reader may appear between the two calls; a second count that grew is simply retried
    // next time.
    std::vector<ck_slot_id_t> slots(count);
    if (count > 0 && m_functions->C_GetSlotList(kCkTrue, slots.data(), &count) != CKR_OK)
        return {};
    slots.resize(count);
    return QList<ck_slot_id_t>(slots.begin(), slots.end());
}

} // namespace vyr::signer
