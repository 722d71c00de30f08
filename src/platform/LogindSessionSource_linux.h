#pragma once

#include "CommandRunner.h"
#include "SessionSource.h"

#include <memory>

// Sessions as systemd-logind knows them, asked through loginctl.
class LogindSessionSource : public SessionSource
{
public:
    static constexpr int kTimeoutMs = 5000;

    explicit LogindSessionSource(std::shared_ptr<CommandRunner> runner);
    SessionQuery querySessions() override;

    // Blocks of "Key=value" lines from show-session, one block per session.
    static QList<LoginSession> parseShowSession(const QByteArray &output);

private:
    std::shared_ptr<CommandRunner> m_pRunner;
};
