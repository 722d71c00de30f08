#pragma once

#include "ModuleTestSupport.h"
#include "support/QtPrinters.h"

#include <QPair>
#include <QTemporaryDir>

// What the fake behind createProcessUtils() in this executable saw: event-log entries
// (source, message) and a PATH kept in memory, so no test needs syslog or changes its own
// environment.
struct FakeProcessRecord
{
    QList<QPair<QString, QString>> eventLog;
    QByteArray path;
};
FakeProcessRecord fakeProcessRecord();
void resetFakeProcess(const QByteArray &path = QByteArray());

// A fresh fake, temporary directory, log capture and trace file of the echo modules' Init
// and DeInit for every test.
class ModuleTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        resetFakeProcess();
        qputenv("VYR_TEST_MODULE_TRACE", path("trace.txt").toLocal8Bit());
    }
    void TearDown() override
    {
        qunsetenv("VYR_TEST_MODULE_TRACE");
        runDeferredDeletes();
    }
    QString path(const QString &name) const { return m_oDirectory.filePath(name); }
    QStringList trace() const
    {
        return QString::fromUtf8(readWholeFile(path("trace.txt")))
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    QTemporaryDir m_oDirectory;
    LogCapture m_oLog;
};
