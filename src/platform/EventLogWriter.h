#pragma once

#include <QString>

// The system log as seen by this layer; a seam so that tests need no log daemon.
class EventLogWriter
{
public:
    virtual ~EventLogWriter();
    // One error entry under the source's name.
    virtual void writeError(const QString &source, const QString &message) = 0;
};
