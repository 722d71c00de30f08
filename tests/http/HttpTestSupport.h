#pragma once

#include "http/HttpRequest.h"
#include "logging/LogChannels.h"
#include "support/CapturingSink.h"
#include "support/QtPrinters.h"

#include <QBuffer>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

// A request fed bytes at once or one at a time, from a device that holds only what was fed so far,
// by default under the limits of the shipped INI.
struct Parse
{
    explicit Parse(const QByteArray &bytes, bool byteByByte = false, qint32 maxSize = 16000,
                   qint32 maxMultiPartSize = 1000000)
        : request(maxSize, maxMultiPartSize)
    {
        feed(bytes, byteByByte);
    }

    void feed(const QByteArray &bytes, bool byteByByte)
    {
        device.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        for (qsizetype i = 0; i < bytes.size(); i += byteByByte ? 1 : bytes.size()) {
            device.buffer().append(bytes.mid(i, byteByByte ? 1 : -1));
            request.receive(device);
        }
    }
    // What the request left unread.
    QByteArray rest() const { return device.data().mid(device.pos()); }

    HttpRequest request;
    QBuffer device;
};

// The server channel's lines at debug level.
class HttpLogTest : public ::testing::Test
{
protected:
    void SetUp() override { serverLogChannel().initializeWithSinks(1, 1 << 20, QString(), {m_oSink}); }
    void TearDown() override { serverLogChannel().reset(); }
    QStringList logLines() const { return m_oSink->lines(); }

    std::shared_ptr<CapturingSink> m_oSink = std::make_shared<CapturingSink>();
};

// An INI file in a temporary directory, positioned on one group.
struct GroupSettings
{
    explicit GroupSettings(const QString &group) { settings.beginGroup(group); }
    QTemporaryDir directory;
    QSettings settings{directory.filePath(QStringLiteral("test.ini")), QSettings::IniFormat};
};
