#pragma once

#include "http/HttpRequest.h"
#include "logging/LogChannels.h"
#include "support/CapturingSink.h"
#include "support/QtPrinters.h"

#include <QIODevice>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

// A sequential device that hands out only what a test has fed it so far, like a socket
// whose bytes arrive over time.
class TrickleDevice : public QIODevice
{
public:
    TrickleDevice() { open(QIODevice::ReadOnly | QIODevice::Unbuffered); }

    void feed(const QByteArray &bytes) { m_oPending += bytes; }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_oPending.size() + QIODevice::bytesAvailable(); }
    QByteArray remaining() const { return m_oPending; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 count = std::min<qint64>(maxSize, m_oPending.size());
        std::copy_n(m_oPending.constData(), count, data);
        m_oPending.remove(0, count);
        return count;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_oPending;
};

// Every test of the layer sees the server channel's lines at debug level.
class HttpLogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_oSink = std::make_shared<CapturingSink>();
        serverLogChannel().initializeWithSinks(1, 1 << 20, QString(), {m_oSink});
    }
    void TearDown() override { serverLogChannel().reset(); }

    QStringList logLines() const { return m_oSink->lines(); }
    QStringList logLinesSince(qsizetype first) const { return m_oSink->lines().mid(first); }

    std::shared_ptr<CapturingSink> m_oSink;
};

// An INI file in a temporary directory, positioned on one group as the server hands it out.
class GroupSettings
{
public:
    explicit GroupSettings(const QString &group)
        : m_oSettings(m_oDirectory.filePath(QStringLiteral("test.ini")), QSettings::IniFormat)
    {
        m_oSettings.beginGroup(group);
    }
    QSettings &settings() { return m_oSettings; }

private:
    QTemporaryDir m_oDirectory;
    QSettings m_oSettings;
};

// Parses bytes fed at once or one at a time; what the request left unread stays in device.
inline void feedRequest(HttpRequest &request, TrickleDevice &device, const QByteArray &bytes, bool byteByByte)
{
    if (!byteByByte) {
        device.feed(bytes);
        request.receive(device);
        return;
    }
    for (const char c : bytes) {
        device.feed(QByteArray(1, c));
        request.receive(device);
    }
}
