#pragma once

#include "common/BaseException.h"
#include "common/PeerIdentity.h"

#include <QString>
#include <memory>
#include <optional>

class ProcessUtils;

// The text a page may see for a failure of the port lookup.
QString userFacingMessageOf(const BaseException &exception);

// Where the server of a page's own account listens, asked of the dispatcher. One lookup
// per request, on the connection handler's thread.
class UserServerPort
{
public:
    // The client is the one that asks: the identity of its connection.
    UserServerPort(std::unique_ptr<ProcessUtils> processUtils, PeerIdentity client);
    ~UserServerPort();

    // The server that runs under the client's own account, whoever else is logged in; none
    // when that account runs none. Throws what ProcessUtils throws when it cannot look.
    std::optional<quint16> getUserServerPort();

private:
    std::unique_ptr<ProcessUtils> m_poProcessUtils;
    PeerIdentity m_oClient;
};
