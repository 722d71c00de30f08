// The example module: SHA-256 digests and HMAC-SHA-256 codes of request parameters.

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <veltrane/VyrModule.h>

VYR_MODULE_COMMAND(Sha256)
{
    return QCryptographicHash::hash(request.value("data"), QCryptographicHash::Sha256).toHex();
}

VYR_MODULE_COMMAND(HmacSha256)
{
    return QMessageAuthenticationCode::hash(request.value("data"), request.value("key"),
                                            QCryptographicHash::Sha256)
        .toHex();
}

// Both commands are quick and show no window: they run on worker threads.
VYR_MODULE_IS_GUI_FUNCTION
{
    return false;
}

// Digests are harmless, but a client of another account has no business here.
VYR_MODULE_CAN_UNPRIVILEGED_RUN
{
    return false;
}

VYR_MODULE_CAN_USE_ON_TERMINAL_SERVICES
{
    return true;
}
