#include "DllManager.h"

#include "logging/LogStatement.h"
#include "settings/CSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace {
constexpr char kVariant[] = "qt6";
} // namespace

ProcessInstance<DllManager> &DllManager::processInstance()
{
    static ProcessInstance<DllManager> instance([] {
        auto manager = std::make_unique<DllManager>(CSettings::instance());
        if (QCoreApplication::instance())
            manager->moveToThread(QCoreApplication::instance()->thread());
        return manager;
    });
    return instance;
}

DllManager *DllManager::instance()
{
    return processInstance().get();
}

void DllManager::ShutdownInstance()
{
    processInstance().end();
}

DllManager::DllManager(const CSettings *settings, QObject *parent) : QObject(parent)
{
    if (!settings) {
        VYR_LOG_SERVER(Error) << "Problem with Settings module.";
        m_oWindowsServerMode = [] { return false; };
        return;
    }
    m_oWindowsServerMode = [settings] { return settings->ReadWindowsServerMode(); };
    start(settings->ReadDllDirPaths());
}

DllManager::DllManager(const QStringList &moduleDirectories, bool windowsServerMode, QObject *parent)
    : QObject(parent), m_oWindowsServerMode([windowsServerMode] { return windowsServerMode; })
{
    start(moduleDirectories);
}

void DllManager::start(const QStringList &moduleDirectories)
{
    m_oModuleDirectories = moduleDirectories;
    VYR_LOG_SERVER(Info) << "Dlls directories = [" << moduleDirectories.join(QStringLiteral(", ")) << "]";
    VYR_LOG_SERVER(Debug) << "DllLoader created";
    connect(this, &DllManager::unloadModule, this, &DllManager::unloadModuleExecutor, Qt::QueuedConnection);
}

DllManager::~DllManager()
{
    VYR_LOG_SERVER(Debug) << "DllLoader destroyed";
    for (auto &[name, module] : m_oModules) {
        module->clearSessions();
        module->unload();
    }
    m_oModules.clear();
}

QString DllManager::getModuleFilepath(const QString &directory, const QByteArray &moduleName)
{
    const QString name = QString::fromUtf8(moduleName);
    const QString variantDirectory = directory + QDir::separator() + QLatin1String(kVariant);
    const QFileInfo candidate(variantDirectory + QDir::separator() + name +
                              QLatin1String(DllModule::kLibrarySuffix));
    QString baseDirectory = directory;
    if (candidate.exists() && candidate.isFile()) {
        VYR_LOG_SERVER(Debug) << "Using " << kVariant << " variant";
        baseDirectory = variantDirectory;
    } else {
        VYR_LOG_SERVER(Debug) << "No variant for " << kVariant;
    }
    return baseDirectory + QDir::separator() + name;
}

bool DllManager::loadModuleForSession(const QByteArray &moduleName, const QByteArray &sessionId)
{
    // Settings before the manager mutex, as the lock order demands.
    const bool windowsServerMode = m_oWindowsServerMode();
    const QMutexLocker locker(&s_oMutex);
    VYR_LOG_SERVER(Debug) << "v_oModuleName=" << moduleName << " v_oSessionID=" << sessionId;
    DllModule *module = createModule(moduleName, windowsServerMode);
    if (!module)
        return false;
    module->addSession(sessionId);
    if (!m_oSessionModules.contains(sessionId, moduleName))
        m_oSessionModules.insert(sessionId, moduleName);
    return true;
}

DllModule *DllManager::createModule(const QByteArray &moduleName, bool windowsServerMode)
{
    VYR_LOG_SERVER(Debug) << "v_oModuleName=" << moduleName;
    if (DllModule *loaded = getModulePriv(moduleName)) {
        VYR_LOG_SERVER(Debug) << "Module " << moduleName << " already loaded";
        return loaded;
    }
    for (const QString &directory : std::as_const(m_oModuleDirectories)) {
        const QString path = getModuleFilepath(directory, moduleName);
        VYR_LOG_SERVER(Info) << "Loading module: " << path;
        // A fresh object per directory: a refused load may leave a library behind, which
        // the object's destruction releases.
        auto module = std::make_unique<DllModule>(moduleName, windowsServerMode);
        const bool loaded = module->load(path);
        VYR_LOG_SERVER(Debug) << "bLoaded=" << loaded;
        if (loaded) {
            VYR_LOG_SERVER(Info) << "Module " << moduleName << " loaded";
            DllModule *result = module.get();
            m_oModules[moduleName] = std::move(module);
            return result;
        }
    }
    VYR_LOG_SERVER(Error) << "Module " << moduleName << " not found";
    return nullptr;
}

DllModule *DllManager::getModule(const QByteArray &moduleName)
{
    const QMutexLocker locker(&s_oMutex);
    VYR_LOG_SERVER(Debug) << "v_oModuleName=" << moduleName;
    return getModulePriv(moduleName);
}

DllModule *DllManager::getModulePriv(const QByteArray &moduleName) const
{
    const auto found = m_oModules.find(moduleName);
    return found == m_oModules.end() ? nullptr : found->second.get();
}

ModuleHold DllManager::holdModule(const QByteArray &moduleName)
{
    const QMutexLocker locker(&s_oMutex);
    DllModule *module = getModulePriv(moduleName);
    if (!module)
        return {};
    module->acquireHold();
    return ModuleHold(std::shared_ptr<DllModule>(module, [this](DllModule *held) { releaseHold(held); }));
}

void DllManager::releaseHold(DllModule *module)
{
    if (!module->releaseHold())
        return;
    // The module stays in the table until the manager's thread has looked again: a session
    // may take it up meanwhile.
    QMetaObject::invokeMethod(
        this, [this, module] { unloadUnusedModule(module); }, Qt::QueuedConnection);
}

void DllManager::unloadUnusedModule(const DllModule *module)
{
    const QMutexLocker locker(&s_oMutex);
    // Compared by address only: the module may have gone by another road since the post.
    const auto found = std::find_if(m_oModules.begin(), m_oModules.end(),
                                    [module](const auto &entry) { return entry.second.get() == module; });
    if (found == m_oModules.end() || !found->second->isUnused())
        return;
    if (found->second->unload())
        m_oModules.erase(found);
}

void DllManager::unloadAllModulesForSession(const QByteArray &sessionId)
{
    VYR_LOG_SERVER(Debug) << "v_oSessionId=" << sessionId;
    Q_EMIT unloadModule(sessionId);
}

QList<QByteArray> DllManager::getModulesNames(const QByteArray &sessionId)
{
    const QMutexLocker locker(&s_oMutex);
    return getModulesNamesPriv(sessionId);
}

QList<QByteArray> DllManager::getModulesNamesPriv(const QByteArray &sessionId) const
{
    return m_oSessionModules.values(sessionId);
}

void DllManager::unloadModuleExecutor(const QByteArray &sessionId)
{
    const QMutexLocker locker(&s_oMutex);
    bool allUnloaded = true;
    for (const QByteArray &name : getModulesNamesPriv(sessionId)) {
        const bool unloaded = unloadModuleForSessionPriv(name, sessionId);
        VYR_LOG_SERVER(Debug) << "Module <" << name << "> unloaded =" << unloaded;
        allUnloaded = allUnloaded && unloaded;
    }
    VYR_LOG_SERVER(Debug) << "bAllModulesUnloaded=" << allUnloaded;
}

bool DllManager::unloadModuleForSessionPriv(const QByteArray &moduleName, const QByteArray &sessionId)
{
    if (!m_oSessionModules.contains(sessionId, moduleName)) {
        VYR_LOG_SERVER(Warning) << "Module " << moduleName << " not loaded for sessionId=" << sessionId;
        return false;
    }
    DllModule *module = getModulePriv(moduleName);
    if (!module) {
        VYR_LOG_SERVER(Warning) << "Module " << moduleName << " not loaded. Don't need to unload";
        return false;
    }
    module->removeSession(sessionId);
    const bool unloaded = module->unload();
    m_oSessionModules.remove(sessionId, moduleName);
    if (unloaded)
        m_oModules.erase(moduleName);
    VYR_LOG_SERVER(Debug) << "bUnloaded=" << unloaded;
    return unloaded;
}
