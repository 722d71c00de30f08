#include "CStartup.h"

#include "FatalSignalHandler.h"
#include "TerminationSignalWatcher.h"
#include "logging/LogStatement.h"
#include "logging/ServerLogger.h"
#include "settings/CSettings.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstring>

namespace {
void deleteLaterDeleter(QObject *object)
{
    if (object)
        object->deleteLater();
}

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
        m_poApplication = QSharedPointer<QCoreApplication>(new QCoreApplication(argc, argv), deleteLaterDeleter);
        return;
    }
    preferOffscreenWithoutDisplay();
    m_poApplication = QSharedPointer<QCoreApplication>(new QApplication(argc, argv), deleteLaterDeleter);
}

void CStartup::Start()
{
    QCoreApplication::setApplicationName(QStringLiteral("VeltraneCryptoProvider"));
    QCoreApplication::setOrganizationName(QStringLiteral("Veltrane"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("com.veltrane"));

    CSettings::instance();
    installFatalSignalHandler();
    ServerLogger::instance();
}

void CStartup::Stop()
{
    VYR_LOG_SERVER(Info) << "CStartup: Listener has been stopped";
}
