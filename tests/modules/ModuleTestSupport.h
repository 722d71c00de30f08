#pragma once

#include "logging/LogChannels.h"
#include "support/CapturingSink.h"

#include <QCoreApplication>
#include <QFile>
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

inline QByteArray readWholeFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeWholeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// Library objects are released by deferred deletion; run it so nothing outlives a test.
inline void runDeferredDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
