#pragma once

#include "common/PeerIdentity.h"

#include <functional>

class CLauncher;
class CORSSettings;
class CSettings;
class CTimeout;
class DllManager;
class HttpSessionStore;
class QTcpSocket;

// What the request path reaches beyond the request itself. Each service is asked for per
// request rather than kept: the process's are created on first use and shut down at exit.
// A test fills in its own, so the whole path runs inside it over a buffer. Held by the
// request mapper (main thread, read-only after construction) and copied into each
// controller; every accessor is called from connection handler threads at once.
struct ControllerContext
{
    std::function<CTimeout *()> timeouts;
    std::function<DllManager *()> modules;
    std::function<CLauncher *()> launcher;
    std::function<const CORSSettings *()> cors;
    std::function<const CSettings *()> settings;
    // Null until start-up has published one.
    std::function<HttpSessionStore *()> sessionStore;
    // Who holds the other end of the connection the reply goes to (null for a non-socket device).
    std::function<PeerIdentity(const QTcpSocket *)> peerOf;

    // The process's singletons and the identity learnt when the connection was accepted.
    static ControllerContext process();
};
