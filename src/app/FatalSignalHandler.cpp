#include "FatalSignalHandler.h"

#include "logging/LogStatement.h"

#include <csignal>
#include <cstdlib>

namespace {
void signalHandler(int signalNumber)
{
    if (!LogChannel::isWritingOnThisThread()) {
        LogStatement(serverLogChannel(), LogLevel::Critical, QString(), QStringLiteral("signalHandler"))
            << "!!! APPLICATION TERMINATED !!! signal:" << signalNumber;
    }
    std::abort();
}
} // namespace

void installFatalSignalHandler()
{
    for (int signalNumber : {SIGFPE, SIGILL, SIGSEGV})
        std::signal(signalNumber, signalHandler);
}
