#include "ModuleReader.h"
#include "logging/LogStatement.h"

// Shared objects carry no platform code signature on Linux; the appended block is the
// only signature a module has.
bool ModuleReader::verifyCodesignSignature()
{
    VYR_LOG(moduleToolsLogChannel(), Error) << "Cannot verify this type of file";
    return false;
}
