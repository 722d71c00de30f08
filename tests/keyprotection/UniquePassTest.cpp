#include "keyprotection/UniquePass.h"

#include "MachineIdentityFiles.h"
#include "keyprotection/MachineSeed.h"
#include "keyprotection/SmbiosTable.h"
#include "support/QtPrinters.h"
#include "support/SilentLogChannels.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <gtest/gtest.h>
#include <set>
#include <thread>
#include <vector>

namespace {
const QByteArray kSeed = "KQWERTYUIOPASDFG";
const QByteArray kMachineId = "0123456789abcdef0123456789abcdef";
const QByteArray kBios = smbiosStructure(0, QByteArray(14, '\x01'), {"Vendor", "2.7"});

QByteArray sha256Hex(const QByteArray &material)
{
    return QCryptographicHash::hash(material, QCryptographicHash::Sha256).toHex();
}

QByteArray passPhrase(unsigned mode, const UniquePassSources &sources)
{
    return UniquePass(mode, sources).getUniquePassword().toByteArray();
}

::testing::Environment *const g_pSilentChannels =
    ::testing::AddGlobalTestEnvironment(new SilentLogChannels({&vyrcommonsLogChannel}));

class UniquePassTest : public ::testing::Test
{
protected:
    MachineIdentityFiles m_oIdentity{kSeed, kMachineId + "\n", kBios + systemInformation()};
};

// The mode the server and the tool use, spelled out independently: seed, machine id with its
// zero byte, board UUID.
TEST_F(UniquePassTest, PassPhrase_Mode_LowercaseSha256HexOfItsPieces)
{
    EXPECT_EQ(passPhrase(4, m_oIdentity.sources()), sha256Hex(kSeed + kMachineId + '\0' + kBoardUuid));
    EXPECT_EQ(passPhrase(77, m_oIdentity.sources()), sha256Hex({}));
}

// Threads racing to derive the first pass phrase end up with one seed, written once and kept.
TEST_F(UniquePassTest, Seed_MissingOnConcurrentFirstUse_GeneratedOnceWorldReadableAndKept)
{
    UniquePassSources sources = m_oIdentity.sources();
    sources.seedPath = m_oIdentity.path("state") + QStringLiteral("/seed");
    std::vector<QByteArray> phrases(8);
    {
        std::vector<std::jthread> threads;
        for (QByteArray &phrase : phrases)
            threads.emplace_back([&phrase, &sources] { phrase = passPhrase(3, sources); });
    }
    const QByteArray seed = MachineSeed::read(sources.seedPath);
    EXPECT_EQ(seed.size(), MachineSeed::kLength);
    EXPECT_EQ(fileMode(sources.seedPath), 0644u);
    EXPECT_EQ(fileMode(m_oIdentity.path("state")), 0755u);
    for (const QByteArray &phrase : phrases)
        EXPECT_EQ(phrase, sha256Hex(seed));
}

// A seed from the clock would repeat within a thousand draws; one from the kernel never does.
// Bytes 250 to 255 would make A to F a tenth more likely than the rest; they are drawn again.
TEST(MachineSeedTest, Generate_ManyDraws_SixteenUnbiasedLettersAToYAllUsedNoneRepeated)
{
    EXPECT_EQ(MachineSeed::lettersFrom(QByteArray::fromHex("0018197cf9fafbff")), QByteArray("AYAYY"));
    std::set<char> letters;
    std::set<QByteArray> seeds;
    for (int draw = 0; draw < 2000; ++draw) {
        const QByteArray seed = *seeds.insert(MachineSeed::generate()).first;
        ASSERT_EQ(seed.size(), MachineSeed::kLength);
        letters.insert(seed.cbegin(), seed.cend());
    }
    EXPECT_EQ(std::string(letters.cbegin(), letters.cend()), "ABCDEFGHIJKLMNOPQRSTUVWXY");
    EXPECT_EQ(seeds.size(), 2000u);
}

// The UUID piece through the whole path: file, permission check, walk.
TEST_F(UniquePassTest, MotherboardUuid_Table_UuidOrZerosOrEmptyWhenUnreadable)
{
    const QByteArray zeros(16, '\0');
    // The case, the table, its file mode, the UUID piece read from it.
    const std::tuple<const char *, QByteArray, mode_t, QByteArray> cases[] = {
        {"AfterOtherStructures", kBios + systemInformation(), 0444, kBoardUuid},
        {"StructureWithoutStrings", smbiosStructure(32, QByteArray(6, '\0')) + systemInformation(), 0644,
         kBoardUuid},
        {"NoSystemInformation", kBios + kBios, 0444, zeros},
        {"StringSetSwallowsNextStructure",
         smbiosStructure(2, "\x01\x02").chopped(2) + "abc" + systemInformation(), 0444, zeros},
        {"LengthBelowHeaderStopsWalk", QByteArray("\x00\x02\x00\x00", 4) + systemInformation(), 0444, zeros},
        {"OnlyRootMayRead", systemInformation(), 0400, {}}};
    for (const auto &[name, table, mode, piece] : cases) {
        MachineIdentityFiles identity;
        identity.write("DMI", table, mode);
        EXPECT_EQ(UniquePass(1, identity.sources()).getMotherboardUUID(), piece) << name;
    }
}

TEST(SmbiosTableTest, FindSystemUuid_EveryTruncationAndRandomTables_StayInBounds)
{
    const auto walkExactCopy = [](const QByteArray &bytes) {
        // An exactly sized heap block: the sanitizer build catches any read past its end.
        std::unique_ptr<char[]> block(new char[size_t(bytes.size())]);
        std::copy(bytes.cbegin(), bytes.cend(), block.get());
        SmbiosTable::Uuid uuid{};
        return SmbiosTable::findSystemUuid(QByteArray::fromRawData(block.get(), bytes.size()), uuid);
    };
    const QByteArray table = kBios + systemInformation() + kBios;
    for (qsizetype length = 0; length <= table.size(); ++length)
        EXPECT_EQ(walkExactCopy(table.left(length)), length >= kBios.size() + 27) << length;
    QRandomGenerator generator(42);
    for (int round = 0; round < 2000; ++round) {
        QByteArray noise(4 * generator.bounded(1, 50), Qt::Uninitialized);
        generator.fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
        walkExactCopy(noise);
    }
}

} // namespace
