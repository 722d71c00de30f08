// A module with an additional library of its own, found through its run path in the
// directory WithLibs/ beside it.

#include "Helper.h"

#include <veltrane/VyrModule.h>

VYR_MODULE_COMMAND(Helper)
{
    return vyrTestHelperText();
}

VYR_MODULE_IS_GUI_FUNCTION
{
    return false;
}

VYR_MODULE_CAN_USE_ON_TERMINAL_SERVICES
{
    return true;
}
