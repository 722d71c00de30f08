#include "logging/LogStatement.h"
#include "logging/MessageFilter.h"
#include "support/CapturingSink.h"
#include "support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct FilterCase
{
    const char *input;
    const char *expected;
};

class MessageFilterTest : public ::testing::TestWithParam<FilterCase>
{
};

TEST_P(MessageFilterTest, Filter_Text_BlanksPunctuationOnlyWhenAMethodIsNamed)
{
    EXPECT_EQ(filterLogMessage(QString::fromUtf8(GetParam().input)), QString::fromUtf8(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MessageFilterTest,
    ::testing::Values(FilterCase{"no method here: a.b-c (d)\nnext", "no method here: a.b-c (d)\nnext"},
                      FilterCase{"POST /Mod1/Cmd1 a.b-c{d}(e)*+?,^$|#\r\nx",
                                 "POST /Mod1/Cmd1 a b c d  e           x"},
                      FilterCase{"GET /status", "GET /status"}, FilterCase{"get /a.b", "get /a.b"},
                      FilterCase{"HEAD x.y", "HEAD x y"}, FilterCase{"DELETE\tz", "DELETE z"},
                      FilterCase{"PUT a/b_c", "PUT a/b_c"}));

struct ScopeCase
{
    const char *signature;
    const char *expected;
};

class LogScopeTest : public ::testing::TestWithParam<ScopeCase>
{
};

TEST_P(LogScopeTest, Scope_CompilerSignature_ClassAndMethod)
{
    EXPECT_EQ(logScopeFromSignature(GetParam().signature), QString::fromLatin1(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LogScopeTest,
    ::testing::Values(ScopeCase{"void CSettings::ReadVariant(const QString&) const",
                                "CSettings::ReadVariant"},
                      ScopeCase{"QList<std::pair<int, int> > DllManager::names(int)", "DllManager::names"},
                      ScopeCase{"void {anonymous}::signalHandler(int)", "{anonymous}::signalHandler"},
                      ScopeCase{"bool vyr::detail::Reader::read()", "Reader::read"},
                      ScopeCase{"CTimeout::CTimeout()", "CTimeout::CTimeout"},
                      ScopeCase{"void CLauncher::Run()::<lambda()>", "CLauncher::Run"}));

class LogChannelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_oSink = std::make_shared<CapturingSink>();
        m_oChannel.initializeWithSinks(1, 1000, QString(), {m_oSink});
    }

    LogChannel m_oChannel{QStringLiteral("test")};
    std::shared_ptr<CapturingSink> m_oSink;
};

TEST_F(LogChannelTest, Statement_PrefixAndValues_ComposedInOrder)
{
    VYR_LOG(m_oChannel, Info) << "bIsResultReady: " << true << " n=" << 42 << " " << QByteArray("bytes");
    ASSERT_EQ(m_oSink->lines().size(), 1);
    EXPECT_EQ(m_oSink->lines().first(),
              "[test]:LogChannelTest_Statement_PrefixAndValues_ComposedInOrder_Test::TestBody: "
              "bIsResultReady: TRUE n=42 bytes");
}

TEST_F(LogChannelTest, Statement_LongerThanLimit_CutTo300WithPrefix)
{
    const QString prefix = QStringLiteral("[test]:A::b: ");
    LogStatement(m_oChannel, LogLevel::Info, "A", "b") << QString(300, QLatin1Char('x'));
    ASSERT_EQ(m_oSink->lines().size(), 1);
    EXPECT_EQ(m_oSink->lines().first(), prefix + QString(300 - prefix.size(), QLatin1Char('x')));
}

TEST_F(LogChannelTest, Attach_OtherChannel_WritesToSameOutputs)
{
    LogChannel other(QStringLiteral("other"));
    m_oChannel.attach(other);
    LogStatement(other, LogLevel::Warning, "C", "m") << "hello";
    EXPECT_EQ(m_oSink->lines(), QStringList{"[other]:C::m: hello"});
    EXPECT_EQ(other.level(), 1);
}

TEST(LogChannelUninitialized, Write_BeforeInitialization_DropsAndReports)
{
    static QStringList debugOutput;
    debugOutput.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext &, const QString &text) { debugOutput.append(text); });
    LogChannel channel(QStringLiteral("late"));
    LogStatement(channel, LogLevel::Error, "X", "y") << "lost";
    qInstallMessageHandler(previous);
    EXPECT_EQ(debugOutput, QStringList{"Logger not initialized!"});
}

// The file output drops lines below its level and rotates into exactly one backup.
TEST(LogFile, Initialize_LevelAndMaxSize_LowerLevelsDroppedOneBackupKept)
{
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("VeltraneCryptoProvider.log"));
    LogChannel channel(QStringLiteral("file"));
    ASSERT_TRUE(channel.initialize(3, 4096, path));
    for (int i = 0; i < 500; ++i) {
        LogStatement(channel, LogLevel::Info, "L", "i") << "info line";
        LogStatement(channel, LogLevel::Warning, "L", "w") << "line " << i << QString(40, QLatin1Char('.'));
    }
    channel.reset();
    const QStringList files = QDir(directory.path()).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(files, (QStringList{"VeltraneCryptoProvider.1.log", "VeltraneCryptoProvider.log"}));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_LE(text.size(), 4096);
    EXPECT_FALSE(text.contains("info line"));
    EXPECT_TRUE(text.endsWith(" warning [file]:L::w: line 499" + QByteArray(40, '.') + "\n"));
}

} // namespace
