#include "CommandReply.h"

#include "core/SignerError.h"

#include <QLoggingCategory>
#include <stdexcept>

Q_LOGGING_CATEGORY(lcSignerCommands, "veltrane.signer.commands")

namespace {
// std::runtime_error keeps its own copy of the text, which outlives this frame.
[[noreturn]] void throwJson(const SignerError &error)
{
    throw std::runtime_error(error.toJson().toStdString());
}
} // namespace

QByteArray replyOrThrowJson(const std::function<QByteArray()> &command)
{
    try {
        return command();
    } catch (const SignerError &error) {
        qCInfo(lcSignerCommands) << "Command ended:" << error.toJson();
        throwJson(error);
    } catch (const std::exception &unexpected) {
        qCWarning(lcSignerCommands) << "Command failed:" << unexpected.what();
        throwJson(SignerError(SignerErrorCode::StoreError, QStringLiteral("The key store failed.")));
    }
}
