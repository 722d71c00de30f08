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

// A module whose command file does not read is refused; deep nesting must not exhaust the stack.
TEST_F(CommandFileTest, ReadFile_BadOrMissingFile_False)
{
    for (const QByteArray &bad : {
             QByteArray("<modules><command name=\"A\" method=\"B\"/></modules>"),
             QByteArray("<Commands/>"),
             QByteArray("<commands><command name=\"A\">"),
             QByteArray("<commands><command "
                        "name=\"A\"><request><param>a<b/></param></request></command></commands>"),
             QByteArray(),
             "<commands>" + QByteArray("<a>").repeated(100000) + "</commands>",
         })
        EXPECT_FALSE(read(bad)) << bad.left(60).toStdString();
    EXPECT_FALSE(m_oReader.ReadFile(m_oDirectory.filePath(QStringLiteral("absent.xml"))));
}

} // namespace
