#pragma once

// The interface between the server and a plug-in module.
//
// A module is a shared object (".so", no "lib" prefix) that exports functions with C
// linkage, found by their plain names:
//   command functions   QByteArray f(const tRequestMap &, const tSessionParamsMap &)
//                       their result is the reply body; named by the command file's
//                       "method", or by the command itself when there is no command file
//   Init, DeInit        after loading, before unloading                       (optional)
//   IsGuiFunction       bool (tpfun): runs the command on the main thread;
//                       missing: every command counts as a GUI command        (optional)
//   CanUnprivilegedRun  bool (tpfun): clients of other accounts may run it;
//                       missing: no command                                  (optional)
//   CanUseOnTerminalServices  bool (): may load on a terminal server;
//                       missing: the module does not load there              (optional)
//   GetAllowedOrigins   QByteArray (): origins for CORS, comma-separated     (optional)
// A command function may throw; the client then gets "500|" and the exception's text.
// The module links Qt6::Core (and Qt6::Widgets for windows) only: the classes below are
// exported by the server executable itself.

#include <QException>
#include <QSharedPointer>
#include <QString>
#include <veltrane/VyrModuleInterface.h>

#define VYR_MODULE_EXPORT extern "C" __attribute__((visibility("default")))

// VYR_MODULE_COMMAND(Sign) { return request.value("data"); }
#define VYR_MODULE_COMMAND(name)                                                                             \
    VYR_MODULE_EXPORT QByteArray name([[maybe_unused]] const tRequestMap &request,                           \
                                      [[maybe_unused]] const tSessionParamsMap &session)
#define VYR_MODULE_INIT VYR_MODULE_EXPORT void Init()
#define VYR_MODULE_DEINIT VYR_MODULE_EXPORT void DeInit()
#define VYR_MODULE_IS_GUI_FUNCTION VYR_MODULE_EXPORT bool IsGuiFunction([[maybe_unused]] tpfun function)
#define VYR_MODULE_CAN_UNPRIVILEGED_RUN                                                                      \
    VYR_MODULE_EXPORT bool CanUnprivilegedRun([[maybe_unused]] tpfun function)
#define VYR_MODULE_CAN_USE_ON_TERMINAL_SERVICES VYR_MODULE_EXPORT bool CanUseOnTerminalServices()
#define VYR_MODULE_GET_ALLOWED_ORIGINS VYR_MODULE_EXPORT QByteArray GetAllowedOrigins()

// The server's exceptions, which a module may throw and catch; their code lives in the
// server executable. The build copies the server's own declarations next to this header.
#include <veltrane/BaseException.h>
#include <veltrane/NotImplementedException.h>
#include <veltrane/UnsupportedCharsException.h>
