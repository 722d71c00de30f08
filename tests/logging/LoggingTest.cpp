#include "logging/LogStatement.h"
#include "logging/QtMessageRouting.h"
#include "support/CapturingSink.h"
#include "support/QtPrinters.h"

#include <QLoggingCategory>
#include <gtest/gtest.h>

namespace {

class LogChannelTest : public ::testing::Test
{
protected:
    void SetUp() override { m_oChannel.initializeWithSinks(1, 1000, QString(), {m_oSink}); }

    LogChannel m_oChannel{QStringLiteral("test")};
    std::shared_ptr<CapturingSink> m_oSink = std::make_shared<CapturingSink>();
};

// Values in order, booleans as the log texts write them, the scope from the compiler's signature,
// and the whole line cut at 300 characters;
// an attached channel writes to the same outputs at the same level.
TEST_F(LogChannelTest, Statement_PrefixAndValues_ComposedInOrderAndCutTo300)
{
    VYR_LOG(m_oChannel, Info) << "bIsResultReady: " << true << " n=" << 42 << " " << QByteArray("bytes");
    const QString prefix = QStringLiteral("[test]:A::b: ");
    LogStatement(m_oChannel, LogLevel::Info, "A", "b") << QString(300, QLatin1Char('x'));
    LogChannel other(QStringLiteral("other"));
    m_oChannel.attach(other);
    LogStatement(other, LogLevel::Warning, "C", "m") << "hello";
    EXPECT_EQ(m_oSink->lines(),
              (QStringList{"[test]:LogChannelTest_Statement_PrefixAndValues_ComposedInOrderAndCutTo300_Test::"
                           "TestBody: bIsResultReady: TRUE n=42 bytes",
                           prefix + QString(300 - prefix.size(), QLatin1Char('x')), "[other]:C::m: hello"}));
    EXPECT_EQ(other.level(), 1);
}

struct CountedOperand
{
    int *formatted;
};

LogStatement &operator<<(LogStatement &&statement, const CountedOperand &operand)
{
    ++*operand.formatted;
    return statement << "counted";
}

// A statement below every output's level formats nothing, neither through the macros nor in
// another scope's name; one at the level still does.
TEST_F(LogChannelTest, BelowLevel_NoOperandFormatted)
{
    m_oSink->set_level(spdlog::level::info);
    m_oChannel.initializeWithSinks(1, 1000, QString(), {m_oSink});
    int formatted = 0;
    VYR_LOG(m_oChannel, Debug) << CountedOperand{&formatted};
    VYR_LOG_SCOPED(m_oChannel, LogLevel::Trace, QStringLiteral("A"), QStringLiteral("b"))
        << CountedOperand{&formatted};
    EXPECT_EQ(formatted, 0);
    VYR_LOG_SCOPED(m_oChannel, LogLevel::Info, QStringLiteral("A"), QStringLiteral("b"))
        << CountedOperand{&formatted};
    EXPECT_EQ(formatted, 1);
    EXPECT_EQ(m_oSink->lines(), QStringList{"[test]:A::b: counted"});
}

Q_LOGGING_CATEGORY(lcModule, "veltrane.module")

// What a module says through Qt reaches the server channel while the routing lives, filtered
// at its own level; the log's complaint about a channel not yet set up neither loops nor
// deadlocks; afterwards Qt's own handler has the messages back.
TEST(QtMessageRouting, ModuleMessages_WhileInstalled_ServerLinesAtTheirLevel)
{
    const auto sink = std::make_shared<CapturingSink>();
    sink->set_level(spdlog::level::info);
    serverLogChannel().initializeWithSinks(static_cast<int>(LogLevel::Debug), 1000, QString(), {sink});
    {
        const QtMessageRouting routing;
        qCWarning(lcModule) << "store skipped";
        qCDebug(lcModule) << "below the level";
        qInfo("plain");
        LogChannel late(QStringLiteral("late"));
        LogStatement(late, LogLevel::Error, "X", "y") << "lost";
    }
    qWarning("after");
    serverLogChannel().reset();
    EXPECT_EQ(sink->lines(), (QStringList{"[VYR-server]:Qt::veltrane.module: store skipped",
                                          "[VYR-server]:Qt::default: plain"}));
}

} // namespace
