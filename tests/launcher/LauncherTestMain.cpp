#include "common/QueuedCallTypes.h"

#include <QApplication>
#include <gtest/gtest.h>

// GUI jobs run on the main thread of a QApplication, as in the server; windows go to the
// offscreen platform.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    registerQueuedCallTypes();
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QCoreApplication::setApplicationName(QStringLiteral("VeltraneCryptoProvider"));
    QCoreApplication::setOrganizationName(QStringLiteral("Veltrane"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
