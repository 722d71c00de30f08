// A module with a command and nothing else: no Init, no DeInit, no query exports, so the
// defaults apply (every command a GUI command, none unprivileged, no terminal services).

#include <veltrane/VyrModule.h>

VYR_MODULE_COMMAND(Cmd1)
{
    return request.value("data");
}
