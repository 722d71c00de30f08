// Open may be run by clients of other accounts, Closed may not.

#include <veltrane/VyrModule.h>

VYR_MODULE_COMMAND(Open)
{
    return "open";
}

VYR_MODULE_COMMAND(Closed)
{
    return "closed";
}

VYR_MODULE_IS_GUI_FUNCTION
{
    return false;
}

VYR_MODULE_CAN_UNPRIVILEGED_RUN
{
    return function == &Open;
}

VYR_MODULE_CAN_USE_ON_TERMINAL_SERVICES
{
    return true;
}
