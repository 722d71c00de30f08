#pragma once

#include "SecurePass.h"

// The machine-unique pass phrase. The order of the virtual operations is part of the
// contract; keep it.
class UniquePassInterface
{
public:
    virtual ~UniquePassInterface() = default;

    // SHA-256 of the gathered material as 64 lowercase hexadecimal characters (UTF-8).
    virtual SecurePass getUniquePassword() = 0;
    // Only a verbose object logs its informational lines.
    virtual void setVerbose(bool verbose) = 0;
    // Diagnostics only: logs the pieces, secrets included.
    virtual void selfTest() = 0;
    // Drops the cached pieces and gathers them again.
    virtual void rebuild() = 0;
};
