#include "app/CStartup.h"
#include "app/FatalSignalHandler.h"
#include "common/QueuedCallTypes.h"
#include "transport/SocketActivation.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    installFatalSignalHandler();
    SocketActivation::claimFromEnvironment();
    registerQueuedCallTypes();
    const CStartup startup(argc, argv);
    // Detaching from a console has no meaning here; a service manager owns our streams.
    return QCoreApplication::exec();
}
