// The command-file reader over arbitrary bytes: whatever a module directory holds, reading it
// ends in true or false, never in a crash, a hang or unbounded recursion.
#include "FuzzSupport.h"
#include "modules/CXmlReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    CXmlReader reader;
    reader.ReadFile(fuzz::scratchFileWith(fuzz::bytesOf(data, size)));
    // Parameters belong to a command the file lists.
    for (const QString &command : reader.getRequestParams().uniqueKeys())
        VYR_FUZZ_CHECK(reader.getCommands().contains(command));
    for (const QString &command : reader.getResponseParams().uniqueKeys())
        VYR_FUZZ_CHECK(reader.getCommands().contains(command));
    return 0;
}
