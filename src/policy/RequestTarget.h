#pragma once

#include <QByteArray>

class HttpRequest;

// The module and command a request names, read from its path and its "cmd" parameter.
// The preflight answer and the controller both take it from here: an origin policy that
// read the module one way while the controller read it another could be walked around
// with a path form one of them did not expect.
//
//   /CMD               command CMD, no module
//   /?cmd=CMD          command CMD, no module
//   /mod?cmd=CMD       module mod, command CMD
//   /mod/CMD[/...]     module mod, command CMD (empty segments do not count)
struct RequestTarget
{
    QByteArray module;
    QByteArray command;

    // The path as the parser decoded it, and the value of "cmd" (empty when absent).
    static RequestTarget of(const QByteArray &path, const QByteArray &cmdParameter);
    static RequestTarget of(const HttpRequest &request);

    // A module name that tries to climb out of the module directory names the upgrader
    // instead, which no page can load by path.
    static constexpr char kClimbingModuleReplacement[] = "moduleupgrader.so";
};
