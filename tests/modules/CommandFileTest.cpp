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

TEST_F(CommandFileTest, ReadFile_GoodFile_TablesAsWritten)
{
    ASSERT_TRUE(read(R"(<?xml version="1.0"?><!-- before the root -->
<commands>
  <command name="X" method="Y" extra="ignored">
    <request><param>P1</param><!-- between --><param>P2</param></request>
    <response><param>R</param></response>
    <note><param>not a parameter</param></note>
  </command>
  <unknown><command name="Skipped" method="Nope"/></unknown>
  <command name="Spaces" method="First"><request><param>  padded name </param></request></command>
  <command name="Spaces" method="Last"/>
</commands>)"));
    EXPECT_EQ(m_oReader.getCommands(), (QMap<QString, QString>{{"X", "Y"}, {"Spaces", "Last"}}));
    EXPECT_EQ(m_oReader.getRequestParams().values("X"), (QStringList{"P2", "P1"}));
    EXPECT_EQ(m_oReader.getRequestParams().values("Spaces"), QStringList{"  padded name "});
    EXPECT_EQ(m_oReader.getRequestParams().size(), 3);
}

TEST_F(CommandFileTest, ReadFile_BadOrMissingFile_FalseAndLogged)
{
    const struct
    {
        QByteArray text;
        const char *logged;
    } cases[] = {
        {"<modules><command name=\"A\" method=\"B\"/></modules>", "Failed to parse file: Not commands file"},
        {"<Commands/>", "Failed to parse file: Not commands file"},
        {"<commands><command name=\"A\">", "Failed to parse file: "},
        {"<commands><command name=\"A\"><request><param>a<b/></param></request></command></commands>",
         "Failed to parse file: "},
        {"", "Failed to parse file: "},
        {"<commands>" + QByteArray("<a>").repeated(100000) + "</commands>", "Failed to parse file: "},
    };
    for (const auto &bad : cases) {
        SCOPED_TRACE(bad.text.left(60).toStdString());
        const int before = m_oLog.count(QString::fromLatin1(bad.logged));
        EXPECT_FALSE(read(bad.text));
        EXPECT_EQ(m_oLog.count(QString::fromLatin1(bad.logged)), before + 1);
    }
    EXPECT_FALSE(m_oReader.ReadFile(m_oDirectory.filePath(QStringLiteral("absent.xml"))));
    EXPECT_TRUE(m_oLog.contains("File with commands specification cannot be opened"));
}

} // namespace
