#include "ModuleTestSupport.h"
#include "modules/CXmlReader.h"
#include "support/QtPrinters.h"

#include <QTemporaryDir>

namespace {

class CommandFileTest : public ::testing::Test
{
protected:
    bool read(const QByteArray &text)
    {
        const QString path = m_oDirectory.filePath(QStringLiteral("commands.xml"));
        EXPECT_TRUE(writeWholeFile(path, text));
        return m_oReader.ReadFile(path);
    }

    QTemporaryDir m_oDirectory;
    LogCapture m_oLog;
    CXmlReader m_oReader;
};

TEST_F(CommandFileTest, ReadFile_FullFile_TablesAsWritten)
{
    ASSERT_TRUE(read(R"(<?xml version="1.0" encoding="UTF-8"?>
<!-- a comment before the root -->
<commands version="2">
  <command name="X" method="Y" extra="ignored">
    <request><param>P1</param><!-- between --><param>P2</param></request>
    <response><param>R</param></response>
    <note><deeper><param>not a parameter</param></deeper></note>
  </command>
  <unknown><command name="Skipped" method="Nope"/></unknown>
  <command name="Spaces" method="S"><request><param>  padded name </param></request></command>
</commands>)"));

    EXPECT_EQ(m_oReader.getCommands(), (QMap<QString, QString>{{"X", "Y"}, {"Spaces", "S"}}));
    EXPECT_EQ(m_oReader.getRequestParams().values("X"), (QStringList{"P2", "P1"}));
    EXPECT_EQ(m_oReader.getRequestParams().values("Spaces"), QStringList{"  padded name "});
    EXPECT_EQ(m_oReader.getResponseParams().values("X"), QStringList{"R"});
    EXPECT_EQ(m_oReader.getRequestParams().size(), 3);
    EXPECT_TRUE(m_oLog.contains("name=X, method=Y"));
    EXPECT_TRUE(m_oLog.contains("File parsed successfully"));
}

TEST_F(CommandFileTest, ReadFile_SameNameTwice_LastMethodWins)
{
    ASSERT_TRUE(read(R"(<commands><command name="A" method="First"/><command name="A" method="Second"/></commands>)"));
    EXPECT_EQ(m_oReader.getCommands(), (QMap<QString, QString>{{"A", "Second"}}));
}

TEST_F(CommandFileTest, ReadFile_MissingAttributesAndEmptyRoot_EmptyTexts)
{
    ASSERT_TRUE(read(R"(<commands><command name="A"/><command method="M"/></commands>)"));
    EXPECT_EQ(m_oReader.getCommands(), (QMap<QString, QString>{{"A", ""}, {"", "M"}}));

    CXmlReader empty;
    const QString path = m_oDirectory.filePath(QStringLiteral("empty.xml"));
    ASSERT_TRUE(writeWholeFile(path, "<commands/>"));
    EXPECT_TRUE(empty.ReadFile(path));
    EXPECT_TRUE(empty.getCommands().isEmpty());
}

TEST_F(CommandFileTest, ReadFile_ErrorAfterEntries_KeepsEntriesReadBefore)
{
    EXPECT_FALSE(read(R"(<commands><command name="A" method="M"><request><param>p</param></request></command><oops>)"));
    EXPECT_EQ(m_oReader.getCommands().value("A"), "M");
    EXPECT_EQ(m_oReader.getRequestParams().values("A"), QStringList{"p"});
}

TEST_F(CommandFileTest, ReadFile_MissingFile_CannotBeOpened)
{
    EXPECT_FALSE(m_oReader.ReadFile(m_oDirectory.filePath(QStringLiteral("absent.xml"))));
    EXPECT_TRUE(m_oLog.contains("File with commands specification cannot be opened"));
    EXPECT_EQ(m_oReader.getFilePath(), m_oDirectory.filePath(QStringLiteral("absent.xml")));
}

struct BadFile
{
    const char *name;
    QByteArray text;
    const char *logged;
};

class CommandFileBadTest : public CommandFileTest, public ::testing::WithParamInterface<BadFile>
{
};

TEST_P(CommandFileBadTest, ReadFile_BadFile_FalseWithReaderError)
{
    EXPECT_FALSE(read(GetParam().text));
    EXPECT_TRUE(m_oLog.contains(QStringLiteral("Failed to parse file: ") + GetParam().logged)) << m_oLog.lines().join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandFileBadTest,
    ::testing::Values(BadFile{"OtherRoot", "<modules><command name=\"A\" method=\"B\"/></modules>", "Not commands file"},
                      BadFile{"CaseMatters", "<Commands/>", "Not commands file"},
                      BadFile{"Unclosed", "<commands><command name=\"A\">", ""},
                      BadFile{"Mismatched", "<commands><command></commands>", ""},
                      BadFile{"ParamWithChild", "<commands><command name=\"A\"><request><param>a<b/></param></request></command></commands>", ""},
                      BadFile{"Empty", "", ""},
                      BadFile{"NotXml", "\x01\x02 binary \xff\xfe", ""},
                      BadFile{"DeepNesting", "<commands>" + QByteArray("<a>").repeated(100000) + "</commands>", ""}),
    [](const auto &info) { return std::string(info.param.name); });

// Element handlers are reached through the virtual table, so a derived reader can change them.
class UpperCaseParamReader : public CXmlReader
{
protected:
    void ReadParamElement(const QString &command, bool isRequest) override
    {
        const QString text = reader().readElementText();
        reader().readNext();
        m_oSeen.append(command + (isRequest ? ">" : "<") + text.toUpper());
    }

public:
    QStringList m_oSeen;
};

TEST_F(CommandFileTest, ReadFile_DerivedReader_OverriddenHandlerUsed)
{
    const QString path = m_oDirectory.filePath(QStringLiteral("derived.xml"));
    ASSERT_TRUE(writeWholeFile(path, "<commands><command name=\"A\"><request><param>x</param></request>"
                                     "<response><param>y</param></response></command></commands>"));
    UpperCaseParamReader reader;
    EXPECT_TRUE(reader.ReadFile(path));
    EXPECT_EQ(reader.m_oSeen, (QStringList{"A>X", "A<Y"}));
    EXPECT_TRUE(reader.getRequestParams().isEmpty());
}

} // namespace
