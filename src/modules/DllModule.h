#pragma once

#include "CXmlReader.h"
#include "ModuleSymbols.h"
#include "common/SharedTypes.h"

#include <QByteArray>
#include <QFileInfo>
#include <QLibrary>
#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

// One plug-in module for the whole process: its verified library, its command file and the
// client sessions that use it. Any thread may call it. One class-wide mutex (shared by all
// modules, not recursive) serialises every operation, the calls into Init, DeInit and the
// query exports included; command functions run outside it, counted by beginCall/endCall.
// Every export, a command's included, is taken from the library file itself, never from a
// library it links.
class DllModule
{
public:
    static constexpr char kLibrarySuffix[] = ".so";

    // windowsServerMode: whether the server refuses modules that cannot run on terminal
    // services; read from the settings at load when not given.
    explicit DllModule(const QByteArray &moduleName, std::optional<bool> windowsServerMode = std::nullopt);
    virtual ~DllModule();
    DllModule(const DllModule &) = delete;
    DllModule &operator=(const DllModule &) = delete;

    // modulePath: the module's path without the library suffix.
    bool load(const QString &modulePath);
    // Refused while a session is listed, a job holds the module or a call is in progress.
    bool unload();

    void addSession(const QByteArray &sessionId);
    void removeSession(const QByteArray &sessionId);
    void clearSessions();

    bool isCommandValid(const QString &command);
    // Required request parameters of the command, newest entry of the command file first.
    QStringList getRequestParams(const QString &command);
    // The command's export, or null; null also for a name no URL may pick (not an
    // identifier, too long, one of the module interface's own exports).
    tpfun getFunction(const QString &command);
    bool isGuiFunction(tpfun function);
    bool canUnprivilegedRun(tpfun function);
    bool canUseOnTerminalServices();

    void setModuleName(const QByteArray &name);
    QByteArray getModuleName() const;
    // In the order of their IDs.
    QList<QByteArray> getSessions() const;
    bool isLoaded() const;
    quint64 getCallsInProgress() const;

    // The worker brackets every command function call with these.
    void beginCall();
    void endCall();

    // Counted for ModuleHold only: a job's claim from its acceptance until its result is stored.
    void acquireHold();
    // True when that was the last hold and no session is listed: nothing keeps the module now.
    bool releaseHold();
    // No session listed, no hold and no call in progress.
    bool isUnused() const;

    // beginCall/endCall for one scope, so the count drops also when the function throws.
    class CallScope
    {
    public:
        explicit CallScope(DllModule &module) : m_oModule(module) { m_oModule.beginCall(); }
        ~CallScope() { m_oModule.endCall(); }
        CallScope(const CallScope &) = delete;
        CallScope &operator=(const CallScope &) = delete;

    private:
        DllModule &m_oModule;
    };

    static QString libraryFilePath(const QString &modulePath);

private:
    // Deferred deletion through the event loop; at once when there is no application.
    struct DeferredDelete
    {
        void operator()(QLibrary *library) const;
    };
    // Raises the call count for one call made while the class-wide mutex is held.
    class LockedCallScope;

    bool loadLocked(const QString &modulePath, bool serverMode);
    bool locateLibraryFile(QString &modulePath, QString &libraryFile);
    bool isLibrarySigned(const QString &libraryFile);
    bool loadCommandFile(const QString &modulePath);
    bool loadLibrary(bool serverMode);
    QFunctionPointer getFunctionPriv(const QString &name);
    ModuleSymbols::Lookup lookupExport(const QByteArray &name) const;
    QFunctionPointer resolveExport(const char *name) const;
    bool loadXmlFile(const QString &path);
    void addAdditionalLibPathIfNeeded(const QFileInfo &libraryFile);
    void runInitFunction();
    void runDeinitFunction();
    void initIfNotLoaded();
    bool canUseOnTerminalServicesPriv();
    bool serverModeSetting() const;

    // Looked up on every module command of every session, so a set rather than a list.
    QSet<QByteArray> m_oSessions;
    QByteArray m_oModuleName;
    std::unique_ptr<QLibrary, DeferredDelete> m_poLibrary;
    // The loaded library's own exports; present exactly while the library is loaded. Used by
    // any thread under the class-wide mutex, like every member here.
    std::unique_ptr<ModuleSymbols> m_poSymbols;
    std::unique_ptr<CXmlReader> m_poXmlReader;
    bool m_bXmlLoaded = false;
    bool m_bLoaded = false;
    quint64 m_iCallsInProgress = 0;
    quint64 m_iHolds = 0;
    const std::optional<bool> m_oWindowsServerMode;

    static inline QMutex s_oClassMutex;
};
