#include "MachineIdentityFiles.h"
#include "keyprotection/SmbiosTable.h"
#include "keyprotection/UniquePass.h"
#include "logging/LogChannels.h"
#include "support/CapturingSink.h"
#include "support/QtPrinters.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>
#include <memory>

namespace {
const QByteArray kUuidA = MachineIdentityFiles::uuidA();
const QByteArray kUuidB = QByteArray::fromHex("ffeeddccbbaa99887766554433221100");
const QByteArray kZeros(16, '\0');

struct TableCase
{
    const char *name;
    QByteArray table;
    mode_t mode;
    QByteArray piece;
};

std::string caseName(const ::testing::TestParamInfo<TableCase> &info)
{
    return info.param.name;
}

QByteArray bios()
{
    return SmbiosBuilder().structure(0, QByteArray(14, '\x01'), {"Vendor", "2.7"}).bytes();
}

// The UUID piece of mode 1 through the whole path: file, permission check, walk.
class MotherboardUuidTest : public ::testing::TestWithParam<TableCase>
{
protected:
    void SetUp() override
    {
        m_oSink = std::make_shared<CapturingSink>();
        vyrcommonsLogChannel().initializeWithSinks(1, 0, QString(), {m_oSink});
    }
    void TearDown() override { vyrcommonsLogChannel().reset(); }

    std::shared_ptr<CapturingSink> m_oSink;
};

INSTANTIATE_TEST_SUITE_P(
    Tables, MotherboardUuidTest,
    ::testing::Values(
        TableCase{"AfterOtherStructures", bios() + SmbiosBuilder().systemInformation(kUuidA).bytes(), 0444,
                  kUuidA},
        TableCase{"StructureWithoutStrings",
                  SmbiosBuilder().structure(32, QByteArray(6, '\0')).systemInformation(kUuidA).bytes(), 0644,
                  kUuidA},
        TableCase{"LaterOneWins",
                  SmbiosBuilder().systemInformation(kUuidA).raw(bios()).systemInformation(kUuidB).bytes(),
                  0444, kUuidB},
        TableCase{"NoSystemInformation", bios() + bios(), 0444, kZeros},
        TableCase{"EmptyTable", QByteArray(), 0444, kZeros},
        TableCase{"TooShortForUuid", SmbiosBuilder().structure(1, "\x01\x02\x03\x04", {"x"}).bytes(), 0444,
                  kZeros},
        TableCase{"DeclaredLengthBeyondEnd", SmbiosBuilder().systemInformation(kUuidA).bytes().left(20), 0444,
                  kZeros},
        TableCase{"StringSetSwallowsNextStructure",
                  SmbiosBuilder().structure(2, "\x01\x02", {}).bytes().chopped(2) + "abc" +
                      SmbiosBuilder().systemInformation(kUuidA).bytes(),
                  0444, kZeros},
        TableCase{"LengthBelowHeaderStopsWalk",
                  QByteArray("\x00\x02\x00\x00", 4) + SmbiosBuilder().systemInformation(kUuidA).bytes(), 0444,
                  kZeros},
        TableCase{"OnlyRootMayRead", SmbiosBuilder().systemInformation(kUuidA).bytes(), 0400, QByteArray()},
        TableCase{"NoneMayRead", SmbiosBuilder().systemInformation(kUuidA).bytes(), 0000, QByteArray()}),
    caseName);
} // namespace

TEST_P(MotherboardUuidTest, MotherboardUuid_Table_PieceAsExpected)
{
    MachineIdentityFiles identity;
    identity.setDmiTable(GetParam().table, GetParam().mode);
    UniquePass pass(1, identity.sources());
    EXPECT_EQ(pass.getMotherboardUUID(), GetParam().piece);
    const bool unsupportedLogged =
        m_oSink->lines()
            .filter(QStringLiteral(
                "Unable to get GetSystemFirmwareTable proc address - hardware id isn't supported."))
            .size() > 0;
    EXPECT_EQ(unsupportedLogged, GetParam().piece.isEmpty());
}

TEST(SmbiosTableTest, FindSystemUuid_EveryTruncationAndRandomTables_StayInBounds)
{
    const QByteArray table = bios() + SmbiosBuilder().systemInformation(kUuidA).bytes() + bios();
    auto walkExactCopy = [](const QByteArray &bytes) {
        // An exactly sized heap block: the sanitizer build catches any read past its end.
        std::unique_ptr<char[]> block(new char[static_cast<size_t>(bytes.size())]);
        std::copy(bytes.cbegin(), bytes.cend(), block.get());
        SmbiosTable::Uuid uuid{};
        return SmbiosTable::findSystemUuid(QByteArray::fromRawData(block.get(), bytes.size()), uuid);
    };
    const qsizetype systemInformationEnd = bios().size() + 27;
    for (qsizetype length = 0; length <= table.size(); ++length)
        EXPECT_EQ(walkExactCopy(table.left(length)), length >= systemInformationEnd) << "length " << length;
    QRandomGenerator generator(42);
    for (int round = 0; round < 2000; ++round) {
        QByteArray noise(generator.bounded(1, 200), Qt::Uninitialized);
        for (char &byte : noise)
            byte = static_cast<char>(generator.bounded(0, 256));
        walkExactCopy(noise);
    }
}
