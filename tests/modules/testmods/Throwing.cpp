// Commands that throw each kind of exception the server distinguishes.

#include <stdexcept>
#include <veltrane/VyrModule.h>

VYR_MODULE_COMMAND(ThrowStd)
{
    throw std::runtime_error("standard failure");
}

VYR_MODULE_COMMAND(ThrowCString)
{
    throw "c string failure";
}

VYR_MODULE_COMMAND(ThrowOther)
{
    throw 42;
}

// The server's own exception class, thrown across the module boundary.
VYR_MODULE_COMMAND(ThrowBase)
{
    throw NotImplementedException(QStringLiteral("not implemented here"));
}

// Even a query export may throw; the server then keeps the export's default.
VYR_MODULE_IS_GUI_FUNCTION
{
    throw std::runtime_error("query failure");
}

VYR_MODULE_CAN_UNPRIVILEGED_RUN
{
    return false;
}

VYR_MODULE_CAN_USE_ON_TERMINAL_SERVICES
{
    return true;
}
