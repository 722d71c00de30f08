#pragma once

#include "common/RequestFields.h"
#include "common/ResultData.h"
#include "modules/CLauncher.h"
#include "modules/DllManager.h"
#include "modules/ModuleTestSupport.h"
#include "support/QtPrinters.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <thread>

constexpr int kDeadlineMs = 20000;

inline void PrintTo(const ResultData &result, std::ostream *out)
{
    *out << result.statusCode << ' ' << result.statusText.toStdString() << " \""
         << result.message.toStdString() << '"';
}

inline const ResultData kAccepted{202, "Accepted"};
inline const ResultData kNoResult{419, "No Result", "There is no result for given parameters."};

inline RequestFields commandFields(const QByteArray &library, const QByteArray &command,
                                   const QByteArray &sessionId, const QByteArray &commandId,
                                   const tRequestMap &parameters = {}, bool unprivileged = false)
{
    RequestFields fields;
    fields.libraryName = library;
    fields.command = command;
    fields.sessionId = sessionId;
    fields.commandId = commandId;
    fields.requestMap = parameters;
    fields.unprivileged = unprivileged;
    return fields;
}

inline RequestFields resultFields(const QByteArray &sessionId, const QByteArray &commandId)
{
    return commandFields({}, "GET_RESULT", sessionId, commandId);
}

// Threads of this process, as the kernel counts them.
inline int processThreadCount()
{
    return static_cast<int>(
        QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// Runs body on a thread of its own, as a connection handler would, while this (the main)
// thread keeps its event loop turning for the GUI jobs and queued calls.
inline bool runOnClientThread(const std::function<void()> &body)
{
    std::atomic<bool> done{false};
    std::thread client([&] {
        body();
        done = true;
    });
    const bool finished = QTest::qWaitFor([&] { return done.load(); }, kDeadlineMs * 2);
    client.join();
    return finished;
}

// A launcher over a module manager of the test modules, and the files that steer Slow and Gui.
class LauncherFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_poManager = std::make_unique<DllManager>(QStringList{testModuleDir()});
        m_poLauncher = std::make_unique<CLauncher>([this] { return m_poManager.get(); });
    }
    void TearDown() override
    {
        m_poLauncher.reset();
        m_poManager.reset();
        runDeferredDeletes();
    }

    void load(const QByteArray &module, const QByteArray &sessionId)
    {
        ASSERT_TRUE(m_poManager->loadModuleForSession(module, sessionId)) << module.constData();
    }
    QByteArray path(const char *name) const { return m_oFiles.filePath(QLatin1String(name)).toUtf8(); }
    static void touch(const QByteArray &file) { writeWholeFile(QString::fromUtf8(file), "x"); }
    static bool waitForFile(const QByteArray &file)
    {
        return QTest::qWaitFor([&] { return QFile::exists(QString::fromUtf8(file)); }, kDeadlineMs);
    }
    bool waitForLog(const QString &text, int count = 1) const
    {
        return QTest::qWaitFor([&] { return m_oLog.count(text) >= count; }, kDeadlineMs);
    }
    // Polls until the job is no longer running; the answer is then collected.
    ResultData collect(const QByteArray &sessionId, const QByteArray &commandId)
    {
        ResultData result;
        // A job still running at the deadline shows as the 202 it answered last.
        static_cast<void>(QTest::qWaitFor(
            [&] {
                result = m_poLauncher->GetResult(resultFields(sessionId, commandId));
                return result.statusCode != 202;
            },
            kDeadlineMs));
        return result;
    }
    ResultData start(const QByteArray &library, const QByteArray &command, const QByteArray &sessionId,
                     const QByteArray &commandId, const tRequestMap &parameters = {},
                     bool unprivileged = false)
    {
        return m_poLauncher->ProcessCommand(
            commandFields(library, command, sessionId, commandId, parameters, unprivileged));
    }

    LogCapture m_oLog;
    QTemporaryDir m_oFiles;
    std::unique_ptr<DllManager> m_poManager;
    std::unique_ptr<CLauncher> m_poLauncher;
};
