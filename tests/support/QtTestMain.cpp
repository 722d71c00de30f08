#include <QCoreApplication>
#include <gtest/gtest.h>

// Tests run inside a Qt application so that queued calls, timers and the settings'
// application name behave as in the server.
int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("VeltraneCryptoProvider"));
    QCoreApplication::setOrganizationName(QStringLiteral("Veltrane"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
