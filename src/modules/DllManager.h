#pragma once

#include "DllModule.h"
#include "ModuleHold.h"
#include "common/ProcessInstance.h"

#include <QByteArray>
#include <QList>
#include <QMultiMap>
#include <QMutex>
#include <QObject>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class CSettings;

// Owns every loaded module of the process and shares each among the client sessions that
// use it and the jobs started for it: a module goes when neither a session on its own list
// nor a ModuleHold keeps it. Lives in the main thread: session teardown only posts
// unloadModule, the last hold posts its release, and the modules are let go there, so no
// caller ever waits for a module's DeInit and no job finds its module gone.
class DllManager : public QObject
{
    Q_OBJECT
public:
    // The process's manager, reading the settings; created on first use.
    static DllManager *instance();
    // Lets the modules go during orderly shutdown, while logging still works; the launcher
    // must be shut down first (lock order).
    static void ShutdownInstance();

    // Directories and windowsServerMode from the settings; null settings leave both unset.
    explicit DllManager(const CSettings *settings, QObject *parent = nullptr);
    // Fixed directories, for tests and tools.
    explicit DllManager(const QStringList &moduleDirectories, bool windowsServerMode = false,
                        QObject *parent = nullptr);
    ~DllManager() override;

    bool loadModuleForSession(const QByteArray &moduleName, const QByteArray &sessionId);
    DllModule *getModule(const QByteArray &moduleName);
    // The loaded module with a hold on it, empty when it is not loaded; any thread.
    ModuleHold holdModule(const QByteArray &moduleName);
    // Returns at once; the modules are let go in the manager's thread.
    void unloadAllModulesForSession(const QByteArray &sessionId);
    QList<QByteArray> getModulesNames(const QByteArray &sessionId);

    // The module's path without suffix; prefers the "qt6" build beside the plain one.
    static QString getModuleFilepath(const QString &directory, const QByteArray &moduleName);

Q_SIGNALS:
    void unloadModule(const QByteArray &sessionId);

private Q_SLOTS:
    void unloadModuleExecutor(const QByteArray &sessionId);

private:
    void start(const QStringList &moduleDirectories);
    DllModule *createModule(const QByteArray &moduleName, bool windowsServerMode);
    DllModule *getModulePriv(const QByteArray &moduleName) const;
    QList<QByteArray> getModulesNamesPriv(const QByteArray &sessionId) const;
    bool unloadModuleForSessionPriv(const QByteArray &moduleName, const QByteArray &sessionId);
    // Any thread, without the manager mutex: the deleter of a hold.
    void releaseHold(DllModule *module);
    // The manager's thread: lets the module go unless a session, a hold or a call came back.
    void unloadUnusedModule(const DllModule *module);

    QStringList m_oModuleDirectories;
    std::map<QByteArray, std::unique_ptr<DllModule>> m_oModules;
    QMultiMap<QByteArray, QByteArray> m_oSessionModules;
    std::function<bool()> m_oWindowsServerMode;

    // The manager mutex: one for the process, taken before the modules' class-wide mutex.
    static inline QMutex s_oMutex;
    // Lives in the main thread; created by whichever thread asks first, destroyed at exit.
    static ProcessInstance<DllManager> &processInstance();
};
