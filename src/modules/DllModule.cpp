#include "DllModule.h"

#include "VerifiedModules.h"
#include "logging/LogStatement.h"
#include "platform/ProcessUtilsFactory.h"
#include "settings/CSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>
#include <algorithm>

namespace {

constexpr char kUpdaterName[] = "updater";
constexpr char kUpgraderName[] = "moduleupgrader";

// The module interface's own exports: none of them has a command function's signature.
constexpr const char *kInterfaceExports[] = {kVyrInitExport,          kVyrDeInitExport,
                                             kVyrGuiQueryExport,      kVyrUnprivilegedQueryExport,
                                             kVyrTerminalQueryExport, kVyrOriginsExport};
// Far above any real export name; a longer one comes from a URL, not from a module.
constexpr qsizetype kMaxFunctionNameLength = 255;

// The steps of load report under the operation's own name.
LogStatement loadLog(LogLevel level)
{
    return LogStatement(serverLogChannel(), level, QStringLiteral("DllModule"), QStringLiteral("load"));
}

// An exception thrown by Init, DeInit or a query export must not unwind through the
// server's locks: it is logged and the export's default answer stands.
template <class Call>
bool callIntoModule(const QByteArray &module, const char *exportName, bool fallback, Call call)
{
    try {
        return call();
    } catch (const std::exception &e) {
        VYR_LOG_SERVER(Error) << exportName << " of module " << module << " threw: " << e.what();
    } catch (...) {
        VYR_LOG_SERVER(Error) << exportName << " of module " << module << " threw an unknown exception";
    }
    return fallback;
}

bool isIdentifierCharacter(char c, bool first)
{
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    return letter || (!first && c >= '0' && c <= '9');
}

// Command function names are C identifiers; anything else, in particular a NUL that would cut
// the name short for the linker, is refused before any lookup.
bool isCommandFunctionName(const QByteArray &name)
{
    if (name.isEmpty() || name.size() > kMaxFunctionNameLength)
        return false;
    for (qsizetype at = 0; at < name.size(); ++at) {
        if (!isIdentifierCharacter(name.at(at), at == 0))
            return false;
    }
    return std::none_of(std::begin(kInterfaceExports), std::end(kInterfaceExports),
                        [&](const char *reserved) { return name == reserved; });
}

void writeEventLog(const QString &text)
{
    try {
        createProcessUtils()->writeEventLog(QCoreApplication::applicationName(), text);
    } catch (const std::exception &e) {
        VYR_LOG_SERVER(Warning) << "Cannot write the event log: " << e.what();
    }
}

} // namespace

class DllModule::LockedCallScope
{
public:
    explicit LockedCallScope(quint64 &counter) : m_riCounter(counter) { ++m_riCounter; }
    ~LockedCallScope() { --m_riCounter; }
    LockedCallScope(const LockedCallScope &) = delete;
    LockedCallScope &operator=(const LockedCallScope &) = delete;

private:
    quint64 &m_riCounter;
};

void DllModule::DeferredDelete::operator()(QLibrary *library) const
{
    if (QCoreApplication::instance())
        library->deleteLater();
    else
        delete library;
}

DllModule::DllModule(const QByteArray &moduleName, std::optional<bool> windowsServerMode)
    : m_oWindowsServerMode(windowsServerMode)
{
    setModuleName(moduleName);
}

DllModule::~DllModule()
{
    clearSessions();
    if (isLoaded())
        unload();
}

QString DllModule::libraryFilePath(const QString &modulePath)
{
    const QFileInfo info(modulePath);
    return info.absolutePath() + QDir::separator() + info.fileName() + QLatin1String(kLibrarySuffix);
}

bool DllModule::load(const QString &modulePath)
{
    // Read before the class-wide mutex: the settings lock comes first in the lock order.
    const bool serverMode = serverModeSetting();
    const QMutexLocker locker(&s_oClassMutex);
    return loadLocked(modulePath, serverMode);
}

bool DllModule::loadLocked(const QString &modulePath, bool serverMode)
{
    loadLog(LogLevel::Debug) << "v_oModulePath=" << modulePath;
    if (m_bLoaded) {
        loadLog(LogLevel::Warning) << "Module " << m_oModuleName << " is loaded already";
        return false;
    }
    QString path = modulePath;
    QString libraryFile;
    if (!locateLibraryFile(path, libraryFile) || !isLibrarySigned(libraryFile))
        return false;
    loadLog(LogLevel::Info) << "Module " << m_oModuleName << " verified.";
    addAdditionalLibPathIfNeeded(QFileInfo(libraryFile));
    m_poLibrary.reset(new QLibrary(libraryFile));
    // Owned by the main thread, whose loop runs the deferred deletion even when the
    // loading thread has none.
    if (QCoreApplication::instance())
        m_poLibrary->moveToThread(QCoreApplication::instance()->thread());
    return loadCommandFile(path) && loadLibrary(serverMode);
}

bool DllModule::locateLibraryFile(QString &modulePath, QString &libraryFile)
{
    libraryFile = libraryFilePath(modulePath);
    if (!QFileInfo::exists(libraryFile) &&
        modulePath.endsWith(QLatin1String(kUpdaterName), Qt::CaseInsensitive)) {
        loadLog(LogLevel::Info) << "Using other module name for compatibility";
        const qsizetype at = modulePath.lastIndexOf(QLatin1String(kUpdaterName));
        if (at >= 0)
            modulePath.replace(at, qsizetype(qstrlen(kUpdaterName)), QLatin1String(kUpgraderName));
        m_oModuleName = kUpgraderName;
        libraryFile = libraryFilePath(modulePath);
        loadLog(LogLevel::Info) << "modulePath: " << libraryFile;
    }
    if (!QFileInfo::exists(libraryFile)) {
        loadLog(LogLevel::Error) << "File " << libraryFile << " not found!";
        return false;
    }
    loadLog(LogLevel::Info) << "Module " << m_oModuleName << " found. File=" << libraryFile;
    return true;
}

bool DllModule::isLibrarySigned(const QString &libraryFile)
{
    if (VerifiedModules::verify(libraryFile))
        return true;
    VYR_LOG_SERVER(Error) << "Verification error";
    const QString text =
        QStringLiteral("File ") + libraryFile + QStringLiteral(" is not verified module file!!!");
    loadLog(LogLevel::Error) << text;
    writeEventLog(text);
    return false;
}

bool DllModule::loadCommandFile(const QString &modulePath)
{
    m_bXmlLoaded = false;
    const QString commandFile =
        QFileInfo(modulePath).suffix().isEmpty() ? modulePath + QStringLiteral(".xml") : modulePath;
    if (!QFileInfo::exists(commandFile)) {
        loadLog(LogLevel::Info) << "Module " << m_oModuleName << " loaded without Xml file.";
        return true;
    }
    if (!loadXmlFile(modulePath)) {
        m_poLibrary.reset();
        loadLog(LogLevel::Error) << "Error when parsing xml file for module " << m_oModuleName;
        return false;
    }
    loadLog(LogLevel::Info) << "Xml file for module " << m_oModuleName << " loaded.";
    return true;
}

bool DllModule::loadXmlFile(const QString &path)
{
    const QString commandFile = QFileInfo(path).suffix().isEmpty() ? path + QStringLiteral(".xml") : path;
    m_poXmlReader = std::make_unique<CXmlReader>();
    m_bXmlLoaded = m_poXmlReader->ReadFile(commandFile);
    VYR_LOG_SERVER(Debug) << "bFileLoaded=" << m_bXmlLoaded;
    return m_bXmlLoaded;
}

bool DllModule::loadLibrary(bool serverMode)
{
    if (!m_poLibrary->load()) {
        loadLog(LogLevel::Error) << "Module library loading by QLibrary failed! Error description: "
                                 << m_poLibrary->errorString();
        m_bLoaded = false;
        return false;
    }
    loadLog(LogLevel::Info) << "Module library loaded by QLibrary.";
    m_poSymbols = std::make_unique<ModuleSymbols>(m_poLibrary->fileName());
    if (!m_poSymbols->isValid())
        loadLog(LogLevel::Error) << "Exports of module " << m_oModuleName
                                 << " cannot be looked up: " << m_poSymbols->errorString();
    m_bLoaded = true;
    runInitFunction();
    return serverMode ? canUseOnTerminalServicesPriv() : true;
}

void DllModule::addAdditionalLibPathIfNeeded(const QFileInfo &libraryFile)
{
    // Beside the library and named like it without the suffix; the module's run path
    // ($ORIGIN/<name>) points at the same directory.
    const QString directory = libraryFile.absolutePath() + QLatin1Char('/') + libraryFile.completeBaseName();
    if (!QFileInfo(directory).isDir()) {
        VYR_LOG_SERVER(Debug) << "Module lib doesn't have any additional libs";
        return;
    }
    try {
        const auto utils = createProcessUtils();
        const QByteArray path = utils->getPathVariable();
        if (path.contains(directory.toUtf8())) {
            VYR_LOG_SERVER(Info)
                << "Module has additional libraries and path to them has been already added: " << directory;
            return;
        }
        VYR_LOG_SERVER(Info) << "Adding library path to support additional module libs: " << directory;
        utils->setPathVariable(path.isEmpty() ? directory
                                              : QString::fromUtf8(path) + QDir::listSeparator() + directory);
    } catch (const std::exception &e) {
        VYR_LOG_SERVER(Warning) << "Cannot extend PATH: " << e.what();
    }
}

bool DllModule::unload()
{
    const QMutexLocker locker(&s_oClassMutex);
    if (!m_bLoaded || !m_poLibrary) {
        VYR_LOG_SERVER(Warning) << "Module " << m_oModuleName << " not loaded!";
        return false;
    }
    if (m_iCallsInProgress != 0 || m_iHolds != 0 || !m_oSessions.isEmpty()) {
        VYR_LOG_SERVER(Info) << "Module " << m_oModuleName << " can't be unloaded. Module in use!";
        return false;
    }
    if (m_poLibrary->isLoaded()) {
        runDeinitFunction();
        // The lookup handle counts as a user of the library; it goes first, or the library
        // would stay mapped.
        m_poSymbols.reset();
        if (!m_poLibrary->unload()) {
            VYR_LOG_SERVER(Error) << "Module " << m_oModuleName
                                  << " can't be unloaded. Error: " << m_poLibrary->errorString();
            m_poSymbols = std::make_unique<ModuleSymbols>(m_poLibrary->fileName());
            return false;
        }
    }
    m_bLoaded = false;
    m_poLibrary.reset();
    VYR_LOG_SERVER(Info) << "Module " << m_oModuleName << " unloaded";
    return true;
}

void DllModule::addSession(const QByteArray &sessionId)
{
    const QMutexLocker locker(&s_oClassMutex);
    if (m_oSessions.contains(sessionId)) {
        VYR_LOG_SERVER(Debug) << "Module " << m_oModuleName << " already in session " << sessionId;
        return;
    }
    m_oSessions.insert(sessionId);
    VYR_LOG_SERVER(Debug) << "session <" << sessionId << "> appended to module <" << m_oModuleName << ">";
}

void DllModule::removeSession(const QByteArray &sessionId)
{
    const QMutexLocker locker(&s_oClassMutex);
    if (!m_oSessions.remove(sessionId)) {
        VYR_LOG_SERVER(Debug) << "Module " << m_oModuleName << " not used in session " << sessionId;
        return;
    }
    VYR_LOG_SERVER(Debug) << "session <" << sessionId << "> removed from module <" << m_oModuleName << ">";
}

void DllModule::clearSessions()
{
    const QMutexLocker locker(&s_oClassMutex);
    m_oSessions.clear();
    VYR_LOG_SERVER(Debug) << "session list cleared";
}

bool DllModule::isCommandValid(const QString &command)
{
    const QMutexLocker locker(&s_oClassMutex);
    if (!m_bXmlLoaded || m_poXmlReader->getCommands().contains(command))
        return true;
    VYR_LOG_SERVER(Warning) << "Command \"" << command << "\" in module \"" << m_oModuleName
                            << "\" not found.";
    return false;
}

QStringList DllModule::getRequestParams(const QString &command)
{
    const QMutexLocker locker(&s_oClassMutex);
    return m_bXmlLoaded ? m_poXmlReader->getRequestParams().values(command) : QStringList();
}

tpfun DllModule::getFunction(const QString &command)
{
    const QMutexLocker locker(&s_oClassMutex);
    const QString functionName = m_bXmlLoaded ? m_poXmlReader->getCommands().value(command) : command;
    VYR_LOG_SERVER(Debug) << "function name <" << functionName << "> for command <" << command << ">";
    initIfNotLoaded();
    return reinterpret_cast<tpfun>(getFunctionPriv(functionName));
}

QFunctionPointer DllModule::getFunctionPriv(const QString &name)
{
    const QByteArray symbol = name.toUtf8();
    if (!isCommandFunctionName(symbol)) {
        // Not echoed: it comes from a URL and may hold anything.
        VYR_LOG_SERVER(Warning) << "Function name of " << symbol.size() << " bytes refused for module \""
                                << m_oModuleName << "\"";
        return nullptr;
    }
    const ModuleSymbols::Lookup lookup = lookupExport(symbol);
    if (lookup.found == ModuleSymbols::Found::Elsewhere)
        VYR_LOG_SERVER(Warning) << "Function \"" << name << "\" is not defined by module \"" << m_oModuleName
                                << "\" itself; refused";
    else if (!lookup.function)
        VYR_LOG_SERVER(Error) << "Problem with resolving function \"" << name << "\" from module \""
                              << m_oModuleName << "\". Error: " << lookup.error;
    return lookup.function;
}

ModuleSymbols::Lookup DllModule::lookupExport(const QByteArray &name) const
{
    if (!m_poSymbols)
        return {nullptr, ModuleSymbols::Found::Nowhere, QStringLiteral("not loaded")};
    return m_poSymbols->find(name);
}

QFunctionPointer DllModule::resolveExport(const char *name) const
{
    return lookupExport(QByteArray(name)).function;
}

bool DllModule::isGuiFunction(tpfun function)
{
    const QMutexLocker locker(&s_oClassMutex);
    const auto query = reinterpret_cast<tpCommandQueryFun>(resolveExport(kVyrGuiQueryExport));
    initIfNotLoaded();
    if (!query)
        return true;
    const LockedCallScope call(m_iCallsInProgress);
    const bool answer =
        callIntoModule(m_oModuleName, kVyrGuiQueryExport, true, [&] { return query(function); });
    VYR_LOG_SERVER(Debug) << "bGuiFunction (from module)=" << answer;
    return answer;
}

bool DllModule::canUnprivilegedRun(tpfun function)
{
    const QMutexLocker locker(&s_oClassMutex);
    const auto query = reinterpret_cast<tpCommandQueryFun>(resolveExport(kVyrUnprivilegedQueryExport));
    initIfNotLoaded();
    if (!query)
        return false;
    const LockedCallScope call(m_iCallsInProgress);
    const bool answer =
        callIntoModule(m_oModuleName, kVyrUnprivilegedQueryExport, false, [&] { return query(function); });
    VYR_LOG_SERVER(Debug) << "bCanUnprivilegedRun (from module)=" << answer;
    return answer;
}

bool DllModule::canUseOnTerminalServices()
{
    const QMutexLocker locker(&s_oClassMutex);
    return canUseOnTerminalServicesPriv();
}

bool DllModule::canUseOnTerminalServicesPriv()
{
    const auto query = reinterpret_cast<tpModuleQueryFun>(resolveExport(kVyrTerminalQueryExport));
    initIfNotLoaded();
    if (!query)
        return false;
    const LockedCallScope call(m_iCallsInProgress);
    const bool answer =
        callIntoModule(m_oModuleName, kVyrTerminalQueryExport, false, [&] { return query(); });
    if (!answer)
        VYR_LOG_SERVER(Info) << "bCanUseOnTerminalServices (from module)=" << answer;
    return answer;
}

void DllModule::initIfNotLoaded()
{
    if (!m_poLibrary || !m_poLibrary->isLoaded())
        runInitFunction();
}

void DllModule::runInitFunction()
{
    const auto init = reinterpret_cast<tpInitFun>(resolveExport(kVyrInitExport));
    if (!init)
        return;
    const LockedCallScope call(m_iCallsInProgress);
    callIntoModule(m_oModuleName, kVyrInitExport, false, [&] {
        init();
        return true;
    });
}

void DllModule::runDeinitFunction()
{
    const auto deinit = reinterpret_cast<tpInitFun>(resolveExport(kVyrDeInitExport));
    if (!deinit)
        return;
    const LockedCallScope call(m_iCallsInProgress);
    callIntoModule(m_oModuleName, kVyrDeInitExport, false, [&] {
        deinit();
        return true;
    });
}

void DllModule::setModuleName(const QByteArray &name)
{
    const QMutexLocker locker(&s_oClassMutex);
    m_oModuleName = name;
}

QByteArray DllModule::getModuleName() const
{
    const QMutexLocker locker(&s_oClassMutex);
    return m_oModuleName;
}

QList<QByteArray> DllModule::getSessions() const
{
    const QMutexLocker locker(&s_oClassMutex);
    QList<QByteArray> sessions = m_oSessions.values();
    std::sort(sessions.begin(), sessions.end());
    return sessions;
}

bool DllModule::isLoaded() const
{
    const QMutexLocker locker(&s_oClassMutex);
    return m_bLoaded;
}

quint64 DllModule::getCallsInProgress() const
{
    const QMutexLocker locker(&s_oClassMutex);
    return m_iCallsInProgress;
}

void DllModule::beginCall()
{
    const QMutexLocker locker(&s_oClassMutex);
    ++m_iCallsInProgress;
}

void DllModule::endCall()
{
    const QMutexLocker locker(&s_oClassMutex);
    if (m_iCallsInProgress > 0)
        --m_iCallsInProgress;
}

void DllModule::acquireHold()
{
    const QMutexLocker locker(&s_oClassMutex);
    ++m_iHolds;
}

bool DllModule::releaseHold()
{
    const QMutexLocker locker(&s_oClassMutex);
    if (m_iHolds > 0)
        --m_iHolds;
    return m_iHolds == 0 && m_oSessions.isEmpty();
}

bool DllModule::isUnused() const
{
    const QMutexLocker locker(&s_oClassMutex);
    return m_oSessions.isEmpty() && m_iHolds == 0 && m_iCallsInProgress == 0;
}

bool DllModule::serverModeSetting() const
{
    if (m_oWindowsServerMode)
        return *m_oWindowsServerMode;
    return CSettings::instance()->ReadWindowsServerMode();
}
