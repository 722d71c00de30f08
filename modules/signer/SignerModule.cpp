// The signing module: certificates and signatures with the user's own keys, each use
// confirmed by the user in a dialog.

#include "CommandReply.h"
#include "SignerCommands.h"
#include "core/SignerSettings.h"

#include <veltrane/VyrModule.h>

VYR_MODULE_COMMAND(ListCertificates)
{
    return replyOrThrowJson([&] { return SignerCommands::listCertificates(request); });
}

VYR_MODULE_COMMAND(Sign)
{
    return replyOrThrowJson([&] { return SignerCommands::sign(request); });
}

VYR_MODULE_COMMAND(SignCms)
{
    return replyOrThrowJson([&] { return SignerCommands::signCms(request); });
}

VYR_MODULE_COMMAND(SignPdf)
{
    return replyOrThrowJson([&] { return SignerCommands::signPdf(request); });
}

// Every command asks the user, so every one runs on the main thread, one at a time.
VYR_MODULE_IS_GUI_FUNCTION
{
    return true;
}

// Another account's program must never put a dialog in front of this user.
VYR_MODULE_CAN_UNPRIVILEGED_RUN
{
    return false;
}

// The server lets a page in only when its origin is on this list, before any dialog opens.
// Nothing may escape into the server: a failure allows nobody.
VYR_MODULE_GET_ALLOWED_ORIGINS
{
    try {
        return vyr::signer::SignerSettings::load().allowedOrigins.join(',');
    } catch (...) {
        return {};
    }
}

VYR_MODULE_CAN_USE_ON_TERMINAL_SERVICES
{
    return true;
}
