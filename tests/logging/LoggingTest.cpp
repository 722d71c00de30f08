#include "logging/LogStatement.h"
#include "logging/MessageFilter.h"
#include "support/CapturingSink.h"
#include "support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// Punctuation is blanked only in lines that name an HTTP method, in capitals.
TEST(MessageFilterTest, Filter_Text_BlanksPunctuationOnlyWhenAMethodIsNamed)
{
    const std::pair<const char *, const char *> cases[] = {
        {"no method here: a.b-c (d)\nnext", "no method here: a.b-c (d)\nnext"},
        {"POST /Mod1/Cmd1 a.b-c{d}(e)*+?,^$|#\r\nx", "POST /Mod1/Cmd1 a b c d  e           x"},
        {"GET /status", "GET /status"},
        {"get /a.b", "get /a.b"},
        {"HEAD x.y", "HEAD x y"},
        {"DELETE\tz", "DELETE z"},
        {"PUT a/b_c", "PUT a/b_c"}};
    for (const auto &[input, expected] : cases)
        EXPECT_EQ(filterLogMessage(QString::fromUtf8(input)), QString::fromUtf8(expected));
}

TEST(LogScopeTest, Scope_CompilerSignature_ClassAndMethod)
{
    const std::pair<const char *, const char *> cases[] = {
        {"void CSettings::ReadVariant(const QString&) const", "CSettings::ReadVariant"},
        {"QList<std::pair<int, int> > DllManager::names(int)", "DllManager::names"},
        {"void {anonymous}::signalHandler(int)", "{anonymous}::signalHandler"},
        {"bool vyr::detail::Reader::read()", "Reader::read"},
        {"CTimeout::CTimeout()", "CTimeout::CTimeout"},
        {"void CLauncher::Run()::<lambda()>", "CLauncher::Run"}};
    for (const auto &[signature, expected] : cases)
        EXPECT_EQ(logScopeFromSignature(signature), QString::fromLatin1(expected));
}

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

// Values in order, booleans as the log texts write them, and the whole line cut at 300 characters.
TEST_F(LogChannelTest, Statement_PrefixAndValues_ComposedInOrderAndCutTo300)
{
    VYR_LOG(m_oChannel, Info) << "bIsResultReady: " << true << " n=" << 42 << " " << QByteArray("bytes");
    const QString prefix = QStringLiteral("[test]:A::b: ");
    LogStatement(m_oChannel, LogLevel::Info, "A", "b") << QString(300, QLatin1Char('x'));
    EXPECT_EQ(m_oSink->lines(),
              (QStringList{"[test]:LogChannelTest_Statement_PrefixAndValues_ComposedInOrderAndCutTo300_Test::"
                           "TestBody: bIsResultReady: TRUE n=42 bytes",
                           prefix + QString(300 - prefix.size(), QLatin1Char('x'))}));
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
