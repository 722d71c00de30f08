#include "TerminationSignalWatcher.h"

#include "logging/LogStatement.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
int g_aSignalPipe[2] = {-1, -1};

void forwardSignal(int signalNumber)
{
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    const int savedErrno = errno;
    [[maybe_unused]] const ssize_t written = ::write(g_aSignalPipe[1], &byte, 1);
    errno = savedErrno;
}
} // namespace

TerminationSignalWatcher::TerminationSignalWatcher(QObject *parent) : QObject(parent)
{
    if (g_aSignalPipe[0] < 0 && ::pipe2(g_aSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_poNotifier = new QSocketNotifier(g_aSignalPipe[0], QSocketNotifier::Read, this);
    connect(m_poNotifier, &QSocketNotifier::activated, this, &TerminationSignalWatcher::onSignalReadable);
    struct sigaction action = {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

TerminationSignalWatcher::~TerminationSignalWatcher()
{
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGINT, SIG_DFL);
}

void TerminationSignalWatcher::onSignalReadable()
{
    unsigned char byte = 0;
    while (::read(g_aSignalPipe[0], &byte, 1) == 1) {
        LogStatement(serverLogChannel(), LogLevel::Critical, QString(), QStringLiteral("signalHandler"))
            << "!!! APPLICATION TERMINATED !!! signal:" << static_cast<int>(byte);
    }
    QCoreApplication::quit();
}
