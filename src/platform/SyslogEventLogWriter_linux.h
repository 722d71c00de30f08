#pragma once

#include "EventLogWriter.h"

class SyslogEventLogWriter : public EventLogWriter
{
public:
    void writeError(const QString &source, const QString &message) override;
};
