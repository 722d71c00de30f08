#include "FakeProcessUtils.h"
#include "ModuleTestSupport.h"
#include "TestKeys.h"
#include "modules/DllModule.h"
#include "modules/ModuleReader.h"
#include "support/QtPrinters.h"

#include <QProcess>
#include <QTemporaryDir>

namespace {

struct ToolRun
{
    int exitCode = -1;
    QString output;
};

// Runs vyr-sign-module on copies of the test modules, with throw-away keys.
class SignModuleToolTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_poKey = std::make_unique<TestKey>();
        s_poOtherKey = std::make_unique<TestKey>();
    }
    static void TearDownTestSuite()
    {
        s_poKey.reset();
        s_poOtherKey.reset();
    }
    void SetUp() override
    {
        FakeProcessUtils::reset();
        ASSERT_TRUE(s_poKey->writePrivatePem(path("key.pem")));
        ASSERT_TRUE(s_poKey->writePublicPem(path("key.pub")));
        ASSERT_TRUE(s_poOtherKey->writePublicPem(path("other.pub")));
        ASSERT_TRUE(QFile::copy(testModulePath(QStringLiteral("Unsigned.so")), path("Copy.so")));
    }
    void TearDown() override { runDeferredDeletes(); }

    QString path(const char *name) const { return m_oDirectory.filePath(QString::fromLatin1(name)); }
    static ToolRun run(const QStringList &arguments)
    {
        QProcess tool;
        tool.setProcessChannelMode(QProcess::MergedChannels);
        tool.start(QStringLiteral(VYR_SIGN_MODULE_TOOL), arguments);
        if (!tool.waitForFinished(60000))
            return {};
        return {tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1, QString::fromUtf8(tool.readAll())};
    }

    static inline std::unique_ptr<TestKey> s_poKey;
    static inline std::unique_ptr<TestKey> s_poOtherKey;
    QTemporaryDir m_oDirectory;
    LogCapture m_oLog;
};

TEST_F(SignModuleToolTest, SignThenVerify_RightKeyOnly)
{
    const ToolRun signing = run({"--key", path("key.pem"), path("Copy.so")});
    ASSERT_EQ(signing.exitCode, 0) << signing.output.toStdString();
    EXPECT_TRUE(signing.output.contains("signed"));

    EXPECT_EQ(run({"--verify", "--pubkey", path("key.pub"), path("Copy.so")}).exitCode, 0);
    const ToolRun wrongKey = run({"--verify", "--pubkey", path("other.pub"), path("Copy.so")});
    EXPECT_EQ(wrongKey.exitCode, 1);
    EXPECT_TRUE(wrongKey.output.contains("signature NOT valid"));
    // Without --pubkey the tool checks against the key built into this build.
    EXPECT_EQ(run({"--verify", path("Copy.so")}).exitCode, 1);
    EXPECT_EQ(run({"--verify", testModulePath(QStringLiteral("Mod1.so"))}).exitCode, 0);
}

TEST_F(SignModuleToolTest, SignTwice_RefusedAndFileUnchanged)
{
    ASSERT_EQ(run({"--key", path("key.pem"), path("Copy.so")}).exitCode, 0);
    const QByteArray signedOnce = readWholeFile(path("Copy.so"));
    const ToolRun again = run({"--key", path("key.pem"), path("Copy.so")});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_TRUE(again.output.contains("refusing to sign it twice")) << again.output.toStdString();
    EXPECT_EQ(readWholeFile(path("Copy.so")), signedOnce);
}

TEST_F(SignModuleToolTest, ModuleSignedWithOtherKey_RefusedByTheServer)
{
    ASSERT_EQ(run({"--key", path("key.pem"), path("Copy.so")}).exitCode, 0);
    DllModule module("Copy", false);
    EXPECT_FALSE(module.load(path("Copy")));
    EXPECT_EQ(FakeProcessUtils::record().eventLog.size(), 1);

    ASSERT_TRUE(QFile::copy(testModulePath(QStringLiteral("Unsigned.so")), path("Build.so")));
    ASSERT_EQ(run({"--key", QStringLiteral(VYR_BUILD_PRIVATE_KEY), path("Build.so")}).exitCode, 0);
    DllModule accepted("Build", false);
    ASSERT_TRUE(accepted.load(path("Build")));
    EXPECT_EQ(accepted.getFunction(QStringLiteral("Which"))({}, {}), "Unsigned");
}

TEST_F(SignModuleToolTest, PeFile_SignedAfterHeadersAndPadded)
{
    QByteArray pe(0x200, '\0');
    pe.replace(0, 2, "MZ");
    pe[0x3C] = 0x40;
    pe[0x40 + 0x54 + 1] = 0x02; // size of headers 0x200
    pe += QByteArray(777, 'b');
    ASSERT_TRUE(writeWholeFile(path("pe.dll"), pe));
    ASSERT_EQ(run({"--key", path("key.pem"), path("pe.dll")}).exitCode, 0);
    const QByteArray signedPe = readWholeFile(path("pe.dll"));
    EXPECT_EQ(signedPe.size() % 8, 0);
    ModuleReader reader(path("pe.dll"), true, s_poKey->publicKey());
    EXPECT_TRUE(reader.verify());
    EXPECT_EQ(reader.moduleData(), QByteArray(777, 'b'));
}

struct Misuse
{
    const char *name;
    QStringList arguments;
    int exitCode;
    const char *output;
};

class SignModuleToolMisuseTest : public SignModuleToolTest, public ::testing::WithParamInterface<Misuse>
{
};

TEST_P(SignModuleToolMisuseTest, Run_BadArgumentsOrFiles_ClearRefusal)
{
    QStringList arguments;
    for (const QString &argument : GetParam().arguments)
        arguments.append(argument.startsWith('@') ? m_oDirectory.filePath(argument.mid(1)) : argument);
    const ToolRun result = run(arguments);
    EXPECT_EQ(result.exitCode, GetParam().exitCode) << result.output.toStdString();
    EXPECT_TRUE(result.output.contains(QString::fromLatin1(GetParam().output))) << result.output.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SignModuleToolMisuseTest,
    ::testing::Values(Misuse{"Help", {"--help"}, 0, "--pubkey"}, Misuse{"NoModule", {"--key", "@key.pem"}, 2, "exactly one"},
                      Misuse{"KeyAndVerify", {"--verify", "--key", "@key.pem", "@Copy.so"}, 2, "either --key or --verify"},
                      Misuse{"MissingModule", {"--key", "@key.pem", "@absent.so"}, 1, "cannot read"},
                      Misuse{"MissingKey", {"--key", "@absent.pem", "@Copy.so"}, 1, "cannot read"},
                      Misuse{"PublicKeyToSign", {"--key", "@key.pub", "@Copy.so"}, 1, "no unencrypted PEM private key"},
                      Misuse{"PrivateKeyToVerify", {"--verify", "--pubkey", "@Copy.so", "@Copy.so"}, 1, "no PEM public key"},
                      Misuse{"VerifyUnsigned", {"--verify", "--pubkey", "@key.pub", "@Copy.so"}, 1, "NOT valid"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(SignModuleToolTest, SmallKey_Refused)
{
    const TestKey smallKey(1024);
    ASSERT_TRUE(smallKey.writePrivatePem(path("small.pem")));
    const ToolRun result = run({"--key", path("small.pem"), path("Copy.so")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.output.contains("is not an RSA key of 2048 bits"));
}

} // namespace
