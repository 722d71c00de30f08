#include "QtMessageRouting.h"

#include "LogChannels.h"
#include "LogStatement.h"

#include <QString>
#include <atomic>

namespace {
// Where a message goes that the log itself raised while handing over another one.
std::atomic<QtMessageHandler> g_pPrevious{nullptr};

LogLevel levelOf(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return LogLevel::Debug;
    case QtInfoMsg:
        return LogLevel::Info;
    case QtWarningMsg:
        return LogLevel::Warning;
    case QtCriticalMsg:
        return LogLevel::Error;
    case QtFatalMsg:
        return LogLevel::Critical;
    }
    return LogLevel::Warning;
}

void routeToServerLog(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // The log's own complaint ("not initialized") must not come back into the log.
    thread_local bool tbRouting = false;
    if (tbRouting) {
        if (const QtMessageHandler previous = g_pPrevious.load())
            previous(type, context, message);
        return;
    }
    tbRouting = true;
    const QString category = QString::fromLatin1(context.category ? context.category : "default");
    LogStatement(serverLogChannel(), levelOf(type), QStringLiteral("Qt"), category) << message;
    tbRouting = false;
    if (type == QtFatalMsg)
        std::abort();
}
} // namespace

QtMessageRouting::QtMessageRouting() : m_pPrevious(qInstallMessageHandler(routeToServerLog))
{
    g_pPrevious.store(m_pPrevious);
}

QtMessageRouting::~QtMessageRouting()
{
    qInstallMessageHandler(m_pPrevious);
}
