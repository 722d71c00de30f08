#include "ModuleFixture.h"
#include "TestKeys.h"
#include "modules/DllModule.h"
#include "modules/ModuleReader.h"
#include "support/ProgramRun.h"

namespace {

// Runs vyr-sign-module on a copy of the unsigned test module, with throw-away keys.
class SignModuleToolTest : public ModuleTest
{
protected:
    static void SetUpTestSuite() { s_poKey = std::make_unique<TestKey>(); }
    static void TearDownTestSuite() { s_poKey.reset(); }
    void SetUp() override
    {
        ModuleTest::SetUp();
        ASSERT_TRUE(s_poKey->writePem(path("key.pem"), true));
        ASSERT_TRUE(s_poKey->writePem(path("key.pub"), false));
        ASSERT_TRUE(QFile::copy(testModulePath("Unsigned.so"), path("Copy.so")));
    }
    // "@name" stands for the file of that name in the test's directory.
    ProgramRun run(QStringList arguments) const
    {
        for (QString &argument : arguments)
            if (argument.startsWith('@'))
                argument = path(argument.mid(1));
        return runProgram(QStringLiteral(VYR_SIGN_MODULE_TOOL), arguments);
    }

    static inline std::unique_ptr<TestKey> s_poKey;
};

TEST_F(SignModuleToolTest, SignVerifyAndSignAgain_RightKeyOnlyAndSecondSigningRefused)
{
    ASSERT_TRUE(TestKey().writePem(path("other.pub"), false));
    ASSERT_EQ(run({"--key", "@key.pem", "@Copy.so"}).exitCode, 0);
    EXPECT_EQ(run({"--verify", "--pubkey", "@key.pub", "@Copy.so"}).exitCode, 0);
    const ProgramRun wrongKey = run({"--verify", "--pubkey", "@other.pub", "@Copy.so"});
    EXPECT_EQ(wrongKey.exitCode, 1);
    EXPECT_TRUE(wrongKey.output.contains("signature NOT valid"));
    // Without --pubkey the tool checks against the key built into this build.
    EXPECT_EQ(run({"--verify", "@Copy.so"}).exitCode, 1);
    EXPECT_EQ(run({"--verify", testModulePath("Mod1.so")}).exitCode, 0);

    const QByteArray signedOnce = readWholeFile(path("Copy.so"));
    const ProgramRun again = run({"--key", "@key.pem", "@Copy.so"});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_TRUE(again.output.contains("refusing to sign it twice")) << again.output.toStdString();
    EXPECT_EQ(readWholeFile(path("Copy.so")), signedOnce);
}

// The test modules are signed by this tool with the build's key; one signed with another
// key must not load.
TEST_F(SignModuleToolTest, ModuleSignedWithOtherKey_RefusedByTheServer)
{
    ASSERT_EQ(run({"--key", "@key.pem", "@Copy.so"}).exitCode, 0);
    EXPECT_FALSE(DllModule("Copy", false).load(path("Copy")));
    EXPECT_EQ(fakeProcessRecord().eventLog.size(), 1);
}

TEST_F(SignModuleToolTest, PeFile_SignedAfterHeadersAndPadded)
{
    QByteArray pe(0x200, '\0');
    pe.replace(0, 2, "MZ");
    pe[0x3C] = 0x40;
    pe[0x40 + 0x54 + 1] = 0x02; // SizeOfHeaders 0x200
    ASSERT_TRUE(writeWholeFile(path("pe.dll"), pe + QByteArray(777, 'b')));
    ASSERT_EQ(run({"--key", "@key.pem", "@pe.dll"}).exitCode, 0);
    EXPECT_EQ(readWholeFile(path("pe.dll")).size() % 8, 0);
    ModuleReader reader(path("pe.dll"), true, s_poKey->publicKey());
    EXPECT_TRUE(reader.verify());
    EXPECT_EQ(reader.moduleData(), QByteArray(777, 'b'));
}

TEST_F(SignModuleToolTest, Run_BadArgumentsOrKeys_ClearRefusal)
{
    ASSERT_TRUE(TestKey(1024).writePem(path("small.pem"), true));
    const struct
    {
        QStringList arguments;
        int exitCode;
        const char *output;
    } cases[] = {
        {{"--key", "@key.pem"}, 2, "exactly one"},
        {{"--verify", "--key", "@key.pem", "@Copy.so"}, 2, "either --key or --verify"},
        {{"--key", "@absent.pem", "@Copy.so"}, 1, "cannot read"},
        {{"--key", "@key.pub", "@Copy.so"}, 1, "no unencrypted PEM private key"},
        {{"--key", "@small.pem", "@Copy.so"}, 1, "is not an RSA key of 2048 bits"},
        {{"--verify", "--pubkey", "@key.pub", "@Copy.so"}, 1, "NOT valid"},
    };
    for (const auto &c : cases) {
        const ProgramRun result = run(c.arguments);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.output.toStdString();
        EXPECT_TRUE(result.output.contains(QString::fromLatin1(c.output))) << result.output.toStdString();
    }
}

} // namespace
