// The module file reader: its executable-header reading and the signature block behind the
// module bytes. Hostile sizes may only fail a parse; what a successful parse returns lies
// inside the file. A block composed by the signing side reads back as it was written.
#include "FuzzSupport.h"
#include "modules/ModuleReader.h"
#include "modules/ModuleSignatureBlock.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

void readArbitraryFile(const QByteArray &file, bool executableHeaderMode)
{
    ModuleReader reader(fuzz::scratchFileWith(file), executableHeaderMode);
    reader.verify();
    if (reader.isRead())
        VYR_FUZZ_CHECK(reader.moduleData().size() + reader.signature().size() <= file.size());
}

void readComposedFile(FuzzedDataProvider &input)
{
    const bool padded = input.ConsumeBool();
    const QByteArray signature = QByteArray::fromStdString(
        input.ConsumeBytesAsString(input.ConsumeIntegralInRange<std::size_t>(0, 256)));
    const QByteArray module = QByteArray::fromStdString(input.ConsumeRemainingBytesAsString());
    // Executable headers move the signed region on purpose; that case is the arbitrary one's.
    if (padded && module.startsWith("MZ"))
        return;
    QByteArray file = module + ModuleSignatureBlock::compose(signature);
    if (padded)
        file += ModuleSignatureBlock::octawordPadding(file.size());
    ModuleReader reader(fuzz::scratchFileWith(file), padded);
    reader.readModule();
    VYR_FUZZ_CHECK(reader.isRead());
    VYR_FUZZ_CHECK(reader.signature() == signature);
    VYR_FUZZ_CHECK(reader.moduleData() == module);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    switch (input.ConsumeIntegralInRange<int>(0, 2)) {
    case 0:
        readArbitraryFile(QByteArray::fromStdString(input.ConsumeRemainingBytesAsString()), false);
        break;
    case 1:
        readArbitraryFile(QByteArray::fromStdString(input.ConsumeRemainingBytesAsString()), true);
        break;
    default:
        readComposedFile(input);
        break;
    }
    return 0;
}
