#include "CStartup.h"

#include "FatalSignalHandler.h"
#include "Listener.h"
#include "TerminationSignalWatcher.h"
#include "common/ProcessExit.h"
#include "http/HttpSessionStore.h"
#include "logging/LogStatement.h"
#include "logging/QtMessageRouting.h"
#include "logging/ServerLogger.h"
#include "modules/CLauncher.h"
#include "modules/DllManager.h"
#include "platform/ProcessUtilsExceptions.h"
#include "platform/ProcessUtilsFactory.h"
#include "protocol/CRequestMapper.h"
#include "protocol/CTimeout.h"
#include "settings/CSettings.h"
#include "transport/SocketActivation.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <cstdio>
#include <cstring>

namespace {
// A GUI-capable server started without a display (a service, a CI machine) still runs;
// modules that open windows get an off-screen surface.
void preferOffscreenWithoutDisplay()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}
} // namespace

CStartup::CStartup(int &argc, char **argv)
{
    m_bConsole = hasConsoleSwitch(argc, argv);
    createApplication(argc, argv);
    if (auto *guiApplication = qobject_cast<QApplication *>(m_poApplication.data()))
        guiApplication->setQuitOnLastWindowClosed(false);
    connect(m_poApplication.data(), &QCoreApplication::aboutToQuit, this, &CStartup::Stop);
    new TerminationSignalWatcher(this);
    Start();
}

CStartup::~CStartup()
{
    Stop();
    // Jobs and timers end before the objects they report to.
    CTimeout::ShutdownInstance();
    if (!CLauncher::ShutdownInstance()) {
        // Unloading a module, or freeing anything a running function may still touch, would
        // pull it from under that function; the process ends here instead.
        VYR_LOG_SERVER(Warning) << "Exit with module functions still running; modules are not unloaded";
        terminateProcess(0);
    }
    DllManager::ShutdownInstance();
    m_poRequestMapper.reset();
    m_poListenerSettings.reset();
    m_poSessionStore.reset();
    m_poSessionSettings.reset();
}

bool CStartup::hasConsoleSwitch(int argc, char **argv)
{
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "-console") == 0)
            return true;
    }
    return false;
}

void CStartup::createApplication(int &argc, char **argv)
{
    if (m_bConsole) {
        m_poApplication.reset(new QCoreApplication(argc, argv));
        return;
    }
    preferOffscreenWithoutDisplay();
    m_poApplication.reset(new QApplication(argc, argv));
}

void CStartup::Start()
{
    QCoreApplication::setApplicationName(QStringLiteral("VeltraneCryptoProvider"));
    QCoreApplication::setOrganizationName(QStringLiteral("Veltrane"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("com.veltrane"));

    refuseStartWithoutSettingsFile();
    startLogging();
    m_poQtMessages.reset(new QtMessageRouting());
    installFatalSignalHandler(serverLogChannel().filePath());
    refuseSecondInstance();
    createSessionStore();
    startListener();
}

void CStartup::refuseStartWithoutSettingsFile()
{
    // Checked before anything reads the file, whose getters would quietly fall back to
    // their defaults. There is no log to write to yet.
    if (QFileInfo::exists(CSettings::filePathFor(QCoreApplication::applicationDirPath())))
        return;
    std::fputs("Exit(0): ini file not found\n", stderr);
    terminateProcess(0);
}

void CStartup::startLogging()
{
    const CSettings *settings = CSettings::instance();
    ServerLoggerConfig config;
    config.level = settings->ReadLogLevel();
    config.maxSize = settings->ReadMaxSize();
    config.filePath = ServerLogger::defaultLogFilePath();
    config.consoleOutput = QCoreApplication::arguments().contains(QStringLiteral("-debug"));
    config.windowsServerMode = settings->ReadWindowsServerMode();
    ServerLogger::start(config);
}

void CStartup::refuseSecondInstance()
{
    // The service manager starts one dispatcher per socket it holds, and that socket,
    // already in this process, would be taken for another server's.
    if (SocketActivation::isHolding(static_cast<quint16>(CSettings::instance()->ReadPort())))
        return;
    quint16 port = 0;
    QString account;
    try {
        auto processUtils = createProcessUtils();
        const qint64 ownPid = QCoreApplication::applicationPid();
        const QString name = processUtils->getProcessNameForPid(ownPid);
        account = processUtils->getDomainAndUsernameForPid(ownPid);
        port = processUtils->getPortOfUserProcess(processUtils->getUidForPid(ownPid), name, 0);
    } catch (const BaseException &exception) {
        VYR_LOG_SERVER(Warning) << "Single-instance check failed: " << exception.getMessage();
        return;
    }
    if (port != 0) {
        VYR_LOG_SERVER(Error) << "Server is already running on port: " << port << " for user: " << account;
        terminateProcess(1);
    }
}

void CStartup::createSessionStore()
{
    const QString iniPath = CSettings::instance()->settingsFilePath();
    m_poSessionSettings.reset(new QSettings(iniPath, QSettings::IniFormat));
    m_poSessionSettings->beginGroup(QStringLiteral("sessions"));
    m_poSessionStore.reset(new HttpSessionStore(m_poSessionSettings.data()));
    HttpSessionStore::publish(m_poSessionStore.data());
    VYR_LOG_SERVER(Info) << "Session store configured";
}

void CStartup::startListener()
{
    VYR_LOG_SERVER(Info) << "Starting listener";
    const QString iniPath = CSettings::instance()->settingsFilePath();
    m_poListenerSettings.reset(new QSettings(iniPath, QSettings::IniFormat));
    m_poListenerSettings->beginGroup(QStringLiteral("listener"));
    m_poRequestMapper.reset(new CRequestMapper());
    m_poListener.reset(new Listener(m_poListenerSettings, m_poRequestMapper, nullptr));
}

void CStartup::Stop()
{
    if (m_poListener)
        Q_EMIT m_poListener->stop();
    m_poListener.reset();
    VYR_LOG_SERVER(Info) << "CStartup: Listener has been stopped";
}
