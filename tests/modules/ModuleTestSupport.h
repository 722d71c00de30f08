#pragma once

#include "logging/LogChannels.h"
#include "support/CapturingSink.h"
#include "support/Files.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <memory>

// Watches the server and module-tools channels for the length of a test.
class LogCapture
{
public:
    LogCapture() : m_poSink(std::make_shared<CapturingSink>())
    {
        serverLogChannel().initializeWithSinks(0, 0, QString(), {m_poSink});
        moduleToolsLogChannel().initializeWithSinks(0, 0, QString(), {m_poSink});
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;
    ~LogCapture()
    {
        serverLogChannel().reset();
        moduleToolsLogChannel().reset();
    }

    bool contains(const QString &text) const { return !m_poSink->lines().filter(text).isEmpty(); }

private:
    std::shared_ptr<CapturingSink> m_poSink;
};

inline QString testModuleDir()
{
    return QStringLiteral(VYR_TEST_MODULE_DIR);
}

inline QString testModulePath(const char *name)
{
    return testModuleDir() + QLatin1Char('/') + QLatin1String(name);
}

// Library objects are released by deferred deletion; run it so nothing outlives a test.
inline void runDeferredDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
