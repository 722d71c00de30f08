#include "ModuleTestSupport.h"
#include "modules/CXmlReader.h"
#include "support/QtPrinters.h"

#include <QTemporaryDir>

namespace {

// A module whose command file does not read is refused; deep nesting must not exhaust the stack.
TEST(CommandFileTest, ReadFile_GoodBadOrMissingFile_TablesAsWrittenOrFalse)
{
    const QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("commands.xml"));
    for (const QByteArray &bad : {
             QByteArray("<modules><command name=\"A\" method=\"B\"/></modules>"),
             QByteArray("<Commands/>"),
             QByteArray("<commands><command name=\"A\">"),
             QByteArray("<commands><command "
                        "name=\"A\"><request><param>a<b/></param></request></command></commands>"),
             QByteArray(),
             "<commands>" + QByteArray("<a>").repeated(100000) + "</commands>",
         }) {
        ASSERT_TRUE(writeWholeFile(path, bad));
        EXPECT_FALSE(CXmlReader().ReadFile(path)) << bad.left(60).toStdString();
    }
    CXmlReader reader;
    EXPECT_FALSE(reader.ReadFile(directory.filePath(QStringLiteral("absent.xml"))));
    ASSERT_TRUE(writeWholeFile(path, R"(<?xml version="1.0"?><!-- before the root -->
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
    ASSERT_TRUE(reader.ReadFile(path));
    EXPECT_EQ(reader.getCommands(), (QMap<QString, QString>{{"X", "Y"}, {"Spaces", "Last"}}));
    EXPECT_EQ(reader.getRequestParams(),
              (QMultiMap<QString, QString>{{"X", "P1"}, {"X", "P2"}, {"Spaces", "  padded name "}}));
}

} // namespace
