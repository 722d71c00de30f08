// The plain test module, built under several names (Mod1, NoXml, Unsigned, Tampered,
// BadXml, Variant, the qt6 Variant, moduleupgrader): echoes and tells which build it is.

#include "TestModuleTrace.h"

#include <veltrane/VyrModule.h>

VYR_MODULE_INIT
{
    traceTestModuleEvent("Init");
}

VYR_MODULE_DEINIT
{
    traceTestModuleEvent("DeInit");
}

VYR_MODULE_COMMAND(Cmd1)
{
    return request.value("data");
}

// Mod1's command file maps the command "Echo" to this export.
VYR_MODULE_COMMAND(EchoImpl)
{
    return "echo:" + request.value("data");
}

// Exported, but listed in no command file.
VYR_MODULE_COMMAND(Hidden)
{
    return "hidden";
}

VYR_MODULE_COMMAND(Which)
{
    return VYR_TEST_MODULE_NAME;
}

VYR_MODULE_COMMAND(SessionValue)
{
    return session.value(request.value("key")).toByteArray();
}

VYR_MODULE_IS_GUI_FUNCTION
{
    return false;
}

VYR_MODULE_CAN_UNPRIVILEGED_RUN
{
    return false;
}

VYR_MODULE_CAN_USE_ON_TERMINAL_SERVICES
{
    return true;
}
