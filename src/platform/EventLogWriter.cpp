#include "EventLogWriter.h"

EventLogWriter::~EventLogWriter() = default;
