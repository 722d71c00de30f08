#include "keyprotection/UniquePass.h"

#include "MachineIdentityFiles.h"
#include "keyprotection/MachineSeed.h"
#include "logging/LogChannels.h"
#include "support/CapturingSink.h"
#include "support/QtPrinters.h"

#include <QCryptographicHash>
#include <QDir>
#include <QSet>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {
const QByteArray kSeed = "KQWERTYUIOPASDFG";
const QByteArray kMachineId = "0123456789abcdef0123456789abcdef";

QByteArray sha256Hex(const QByteArray &material)
{
    return QCryptographicHash::hash(material, QCryptographicHash::Sha256).toHex();
}

QByteArray passPhrase(unsigned mode, const UniquePassSources &sources)
{
    return UniquePass(mode, sources).getUniquePassword().toByteArray();
}

class UniquePassTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_oSink = std::make_shared<CapturingSink>();
        vyrcommonsLogChannel().initializeWithSinks(1, 0, QString(), {m_oSink});
    }
    void TearDown() override { vyrcommonsLogChannel().reset(); }

    bool logged(const QString &text) const
    {
        for (const QString &line : m_oSink->lines()) {
            if (line.endsWith(QStringLiteral(": ") + text))
                return true;
        }
        return false;
    }

    MachineIdentityFiles m_oIdentity{kSeed, kMachineId + "\n",
                                     SmbiosBuilder()
                                         .structure(0, "\x01\x02", {"BIOS"})
                                         .systemInformation(MachineIdentityFiles::uuidA())
                                         .bytes()};
    std::shared_ptr<CapturingSink> m_oSink;
};

// Material of each composition mode, spelled out independently of the implementation.
struct ModeCase
{
    unsigned mode;
    QByteArray material;
};

class UniquePassModeTest : public UniquePassTest, public ::testing::WithParamInterface<ModeCase>
{
};

const QByteArray kGuidPiece = kMachineId + '\0';
const QByteArray kUuidPiece = MachineIdentityFiles::uuidA();

INSTANTIATE_TEST_SUITE_P(Modes, UniquePassModeTest,
                         ::testing::Values(ModeCase{0, kGuidPiece}, ModeCase{1, kUuidPiece},
                                           ModeCase{2, kGuidPiece + kUuidPiece}, ModeCase{3, kSeed},
                                           ModeCase{4, kSeed + kGuidPiece + kUuidPiece}, ModeCase{5, {}},
                                           ModeCase{77, {}}));
} // namespace

TEST_P(UniquePassModeTest, PassPhrase_Mode_IsLowercaseSha256HexOfItsPieces)
{
    const SecurePass pass = UniquePass(GetParam().mode, m_oIdentity.sources()).getUniquePassword();
    EXPECT_EQ(pass.bytes(), sha256Hex(GetParam().material));
    EXPECT_EQ(pass.encoding(), QByteArray("UTF-8"));
}

TEST_F(UniquePassTest, PassPhrase_EmptyMaterial_IsDigestOfNothing)
{
    EXPECT_EQ(passPhrase(5, m_oIdentity.sources()),
              QByteArray("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
}

TEST_F(UniquePassTest, PassPhrase_TwoObjectsSameMachine_Equal)
{
    EXPECT_EQ(passPhrase(4, m_oIdentity.sources()), passPhrase(4, m_oIdentity.sources()));
}

TEST_F(UniquePassTest, Rebuild_AfterPieceChanged_GathersAgain)
{
    UniquePass pass(4, m_oIdentity.sources());
    const QByteArray before = pass.getUniquePassword().toByteArray();
    m_oIdentity.setSeed("YYYYYYYYYYYYYYYY");
    EXPECT_EQ(pass.getUniquePassword().toByteArray(), before) << "pieces are gathered once, at construction";
    pass.rebuild();
    EXPECT_NE(pass.getUniquePassword().toByteArray(), before);
}

TEST_F(UniquePassTest, MachineGuid_Read_KeepsTerminatingZeroByte)
{
    UniquePass pass(5, m_oIdentity.sources());
    const QByteArray guid = pass.getMachineGuid();
    ASSERT_EQ(guid.size(), kMachineId.size() + 1);
    EXPECT_EQ(guid.back(), '\0');
    EXPECT_EQ(guid.chopped(1), kMachineId);
}

TEST_F(UniquePassTest, MachineGuid_FileMissing_EmptyPieceAndSectionWarning)
{
    UniquePassSources sources = m_oIdentity.sources();
    sources.machineIdPath = m_oIdentity.path("absent");
    UniquePass pass(0, true, sources);
    EXPECT_TRUE(pass.getMachineGuid().isEmpty());
    EXPECT_EQ(pass.getUniquePassword().toByteArray(), sha256Hex({}));
    EXPECT_TRUE(
        logged(QStringLiteral("Unable to read MachineGuid from Registry. Can not open Registry Key.")));
    EXPECT_TRUE(logged(QStringLiteral("validate result failed in section: 2")));
}

TEST_F(UniquePassTest, Verbose_Off_InformationalLinesSilent_On_Logged)
{
    const QStringList informational = {
        QStringLiteral("MachineGuid has been readed successfully from Registry."),
        QStringLiteral("Retrieving Unique Password converted to Secure Password."),
        QStringLiteral("Unique Password retrieved.")};
    UniquePass(4, false, m_oIdentity.sources()).getUniquePassword();
    for (const QString &text : informational)
        EXPECT_FALSE(logged(text)) << text.toStdString();
    UniquePass(4, true, m_oIdentity.sources()).getUniquePassword();
    for (const QString &text : informational)
        EXPECT_TRUE(logged(text)) << text.toStdString();
}

TEST_F(UniquePassTest, Seed_Missing_GeneratedOnceWorldReadableAndKept)
{
    UniquePassSources sources = m_oIdentity.sources();
    sources.seedPath = m_oIdentity.path("state") + QStringLiteral("/seed");
    UniquePass first(3, true, sources);
    const QByteArray seed = first.getRegistrySeed();
    EXPECT_EQ(seed.size(), MachineSeed::kLength);
    EXPECT_TRUE(logged(QStringLiteral("No Registry Seed found. Generated.")));
    EXPECT_EQ(fileMode(sources.seedPath), 0644u);
    EXPECT_EQ(fileMode(m_oIdentity.path("state")), 0755u);
    EXPECT_EQ(UniquePass(3, sources).getRegistrySeed(), seed);
    EXPECT_EQ(UniquePass(3, sources).getUniquePassword().toByteArray(),
              first.getUniquePassword().toByteArray());
}

TEST_F(UniquePassTest, Seed_CannotBeWritten_EmptyPieceAndSectionWarning)
{
    UniquePassSources sources = m_oIdentity.sources();
    // A directory that cannot exist, even for root: its parent is a regular file.
    sources.seedPath = m_oIdentity.path("machine-id") + QStringLiteral("/state/seed");
    UniquePass pass(3, sources);
    EXPECT_TRUE(pass.getRegistrySeed().isEmpty());
    EXPECT_EQ(pass.getUniquePassword().toByteArray(), sha256Hex({}));
    EXPECT_TRUE(logged(QStringLiteral("validate result failed in section: 1")));
}

TEST_F(UniquePassTest, Seed_ConcurrentFirstUse_EveryThreadDerivesTheSamePassPhrase)
{
    UniquePassSources sources = m_oIdentity.sources();
    sources.seedPath = m_oIdentity.path("fresh") + QStringLiteral("/seed");
    std::vector<QByteArray> phrases(8);
    std::vector<std::thread> threads;
    for (QByteArray &phrase : phrases)
        threads.emplace_back([&phrase, &sources] { phrase = passPhrase(4, sources); });
    for (std::thread &thread : threads)
        thread.join();
    for (const QByteArray &phrase : phrases)
        EXPECT_EQ(phrase, phrases.front());
}

TEST(MachineSeedTest, Generate_EveryGeneratorSeed_SixteenLettersAToYAllUsed)
{
    QSet<char> letters;
    for (quint32 milliseconds = 0; milliseconds < 1000; ++milliseconds) {
        const QByteArray seed = MachineSeed::generate(milliseconds);
        ASSERT_EQ(seed.size(), MachineSeed::kLength);
        for (char letter : seed) {
            ASSERT_GE(letter, 'A');
            ASSERT_LE(letter, 'Y');
            letters.insert(letter);
        }
    }
    EXPECT_EQ(letters.size(), 25);
    EXPECT_EQ(MachineSeed::generate(7), MachineSeed::generate(7));
}

TEST(MachineSeedTest, WriteIfMissing_ExistingSeedKept_EmptyFileReplaced)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("seed"));
    QFile empty(path);
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    EXPECT_TRUE(MachineSeed::writeIfMissing(path, "AAAAAAAAAAAAAAAA"));
    EXPECT_EQ(MachineSeed::read(path), QByteArray("AAAAAAAAAAAAAAAA"));
    EXPECT_TRUE(MachineSeed::writeIfMissing(path, "BBBBBBBBBBBBBBBB"));
    EXPECT_EQ(MachineSeed::read(path), QByteArray("AAAAAAAAAAAAAAAA"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("seed")})
        << "no temporary file left behind";
}

struct SectionCase
{
    QByteArray result;
    bool valid;
};

class CheckResultTest : public UniquePassTest, public ::testing::WithParamInterface<SectionCase>
{
};

INSTANTIATE_TEST_SUITE_P(Results, CheckResultTest,
                         ::testing::Values(SectionCase{QByteArray(), false},
                                           SectionCase{QByteArray(""), false},
                                           SectionCase{"machine NuLL id", false}, SectionCase{"nul", true},
                                           SectionCase{QByteArray(16, '\0'), true},
                                           SectionCase{"ABC", true}));

TEST_P(CheckResultTest, CheckResultInSection_Result_WarnsOnlyWhenInvalid)
{
    EXPECT_EQ(UniquePass::checkResultInSection(GetParam().result, 3), GetParam().valid);
    EXPECT_EQ(logged(QStringLiteral("validate result failed in section: 3")), !GetParam().valid);
}
