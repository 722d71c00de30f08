#include "FuzzSupport.h"

#include "logging/LogChannels.h"
#include "logging/LogLevel.h"

#include <QTemporaryFile>
#include <memory>
#include <spdlog/sinks/null_sink.h>

namespace fuzz {

QString scratchFileWith(const QByteArray &content)
{
    static const std::unique_ptr<QTemporaryFile> file = [] {
        auto created = std::make_unique<QTemporaryFile>();
        if (!created->open())
            std::abort();
        return created;
    }();
    if (!file->resize(0) || !file->seek(0) || file->write(content) != content.size() || !file->flush())
        std::abort();
    return file->fileName();
}

} // namespace fuzz

// Every statement is composed and filtered as in the server, whose log sees the same hostile
// bytes; only the output is dropped.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const LogChannel::SinkList sinks{std::make_shared<spdlog::sinks::null_sink_mt>()};
    for (LogChannel *channel : {&serverLogChannel(), &processUtilsLogChannel(), &moduleToolsLogChannel(),
                                &fileVersionLogChannel(), &vyrcommonsLogChannel()})
        channel->initializeWithSinks(static_cast<int>(LogLevel::Trace), 0, QString(), sinks);
    return 0;
}
