#pragma once

#include "SessionSource.h"

// Sessions from the login records, where no login manager runs. A login counts as
// active while its process lives.
class UtmpSessionSource : public SessionSource
{
public:
    // An empty path reads the system's records.
    explicit UtmpSessionSource(QString utmpPath = QString());
    SessionQuery querySessions() override;

private:
    QString m_oUtmpPath;
};
