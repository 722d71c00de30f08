#pragma once

#include "support/Files.h"
#include "support/SilentLogChannels.h"

#include <QCoreApplication>

inline ::testing::Environment *const g_pSilentChannels =
    ::testing::AddGlobalTestEnvironment(new SilentLogChannels({&serverLogChannel, &moduleToolsLogChannel}));

inline QString testModuleDir()
{
    return QStringLiteral(VYR_TEST_MODULE_DIR);
}

inline QString testModulePath(const char *name)
{
    return testModuleDir() + QLatin1Char('/') + QLatin1String(name);
}

// Library objects are released by deferred deletion; run it so nothing outlives a test.
inline void runDeferredDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
