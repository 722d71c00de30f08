#include "PeerIdentifier.h"

#include "DispatcherAccountQuery.h"
#include "logging/LogStatement.h"
#include "platform/ProcessUtils.h"
#include "platform/ProcessUtilsExceptions.h"
#include "platform/ProcessUtilsFactory.h"

#include <QAbstractSocket>
#include <QCoreApplication>
#include <QElapsedTimer>

namespace {

void learnAccountOfPeerProcess(ProcessUtils &processUtils, qintptr socketDescriptor, PeerIdentity &peer)
{
    const qint64 pid = processUtils.getPidOfConnectionPeer(socketDescriptor);
    VYR_LOG_SERVER(Debug) << "Client PID: " << pid;
    if (pid == 0)
        return;
    try {
        peer.account = processUtils.getDomainAndUsernameForPid(pid);
        peer.uid = processUtils.getUidForPid(pid);
    } catch (const ProcessUtilsImplException &) {
        VYR_LOG_SERVER(Info) << "Too low permissions. Ask dispatcher for username";
        peer.account = DispatcherAccountQuery::fromSettings().askDispatcherForDomainAndUsernameForPID(pid);
    }
}

void learnAccount(ProcessUtils &processUtils, qintptr socketDescriptor, PeerIdentity &peer)
{
    std::optional<PeerSocketOwner> owner;
    try {
        owner = processUtils.getPeerSocketOwner(socketDescriptor);
    } catch (const ProcessUtilsImplException &) {
        VYR_LOG_SERVER(Warning)
            << "The kernel does not name the client's socket owner; looking for its process";
        learnAccountOfPeerProcess(processUtils, socketDescriptor, peer);
        return;
    }
    if (!owner) {
        VYR_LOG_SERVER(Info) << "Client left before its account was known";
        return;
    }
    VYR_LOG_SERVER(Debug) << "Client uid: " << owner->uid << ", socket inode: " << owner->inode;
    peer.uid = owner->uid;
    peer.account = owner->account;
}

// Both ends of a loopback connection are on this machine, so only the user part of
// "host/user" tells accounts apart; comparing it alone also keeps the accounts learnt at
// start right when the machine is renamed while the server runs.
bool sameAccount(const QString &client, const QString &other)
{
    const auto user = [](const QString &account) {
        return QStringView(account).mid(account.lastIndexOf('/') + 1);
    };
    return client != PeerIdentity::unknownAccount() &&
           user(client).compare(user(other), Qt::CaseInsensitive) == 0;
}

struct OwnAccounts
{
    QString server;
    QString system;
};

// Neither account changes while the process runs (see sameAccount for the host part), so
// they are learnt once rather than for every connection.
const OwnAccounts &ownAccounts(ProcessUtils &processUtils)
{
    static const OwnAccounts accounts = [&processUtils] {
        OwnAccounts learnt{processUtils.getDomainAndUsernameForPid(QCoreApplication::applicationPid()),
                           processUtils.getDomainAndUsernameForSystemAccount()};
        VYR_LOG_SERVER(Debug) << "Server domain and username: " << learnt.server;
        VYR_LOG_SERVER(Debug) << "System domain and username: " << learnt.system;
        return learnt;
    }();
    return accounts;
}

void classify(ProcessUtils &processUtils, PeerIdentity &peer)
{
    const auto &[server, system] = ownAccounts(processUtils);
    VYR_LOG_SERVER(Debug) << "Client domain and username: " << peer.account;
    peer.onServerAccount = sameAccount(peer.account, server);
    peer.onSystemAccount = sameAccount(peer.account, system);
    if (peer.onServerAccount)
        VYR_LOG_SERVER(Debug) << "Client is on the same user as server.";
    else if (peer.onSystemAccount)
        VYR_LOG_SERVER(Info) << "Client is on SYSTEM user.";
    else
        VYR_LOG_SERVER(Debug) << "Client is on different user then server and not on SYSTEM user!";
}

} // namespace

std::optional<PeerIdentity> PeerIdentifier::identifyByKernel(qintptr socketDescriptor)
{
    // Timed for the benchmark, which reads this line to see the lookup grow with the machine.
    QElapsedTimer clock;
    clock.start();
    try {
        const auto processUtils = createProcessUtils();
        PeerIdentity peer;
        if (const std::optional<PeerSocketOwner> owner = processUtils->getPeerSocketOwner(socketDescriptor)) {
            peer.uid = owner->uid;
            peer.account = owner->account;
        } else {
            VYR_LOG_SERVER(Info) << "Client left before its account was known";
        }
        classify(*processUtils, peer);
        VYR_LOG_SERVER(Debug) << "Client identified in " << clock.nsecsElapsed() / 1000 << " us";
        return peer;
    } catch (...) {
        // The handler looks for the client's process instead.
        return std::nullopt;
    }
}

PeerIdentity PeerIdentifier::identify(const QAbstractSocket &socket)
{
    PeerIdentity peer;
    QElapsedTimer clock;
    clock.start();
    try {
        const auto processUtils = createProcessUtils();
        learnAccount(*processUtils, socket.socketDescriptor(), peer);
        classify(*processUtils, peer);
        VYR_LOG_SERVER(Debug) << "Client identified in " << clock.nsecsElapsed() / 1000 << " us";
    } catch (...) {
        VYR_LOG_SERVER(Warning) << "Insufficient permissions for client on port " << socket.peerPort();
        return PeerIdentity();
    }
    return peer;
}
