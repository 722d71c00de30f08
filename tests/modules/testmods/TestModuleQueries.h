#pragma once

#include <veltrane/VyrModule.h>

// The query exports of a test module that may run under terminal services: gui and unprivileged
// are what IsGuiFunction and CanUnprivilegedRun answer for any of its functions.
#define VYR_TEST_MODULE_QUERIES(gui, unprivileged)                                                           \
    VYR_MODULE_IS_GUI_FUNCTION                                                                               \
    {                                                                                                        \
        return gui;                                                                                          \
    }                                                                                                        \
    VYR_MODULE_CAN_UNPRIVILEGED_RUN                                                                          \
    {                                                                                                        \
        return unprivileged;                                                                                 \
    }                                                                                                        \
    VYR_MODULE_CAN_USE_ON_TERMINAL_SERVICES                                                                  \
    {                                                                                                        \
        return true;                                                                                         \
    }
