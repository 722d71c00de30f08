#include "ModuleSigner.h"
#include "logging/LogChannels.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>
#include <spdlog/sinks/stdout_sinks.h>

namespace {

enum ExitCode
{
    kSuccess = 0,
    kFailure = 1,
    kUsage = 2,
};

// The verifier logs through the module-tools channel; without --verbose those lines go nowhere.
void setUpLogging(bool verbose)
{
    LogChannel::SinkList sinks;
    if (verbose)
        sinks.push_back(std::make_shared<spdlog::sinks::stderr_sink_mt>());
    moduleToolsLogChannel().initializeWithSinks(verbose ? 0 : 6, 0, QString(), sinks);
}

int report(const ModuleSigner::Outcome &outcome)
{
    QTextStream(outcome.success ? stdout : stderr) << outcome.message << Qt::endl;
    return outcome.success ? kSuccess : kFailure;
}

int usageError(const QCommandLineParser &parser, const QString &message)
{
    QTextStream(stderr) << "vyr-sign-module: " << message << "\n\n" << parser.helpText();
    return kUsage;
}

struct Options
{
    QCommandLineOption key{QStringLiteral("key"), QStringLiteral("PEM private key (RSA 2048) to sign with."),
                           QStringLiteral("PRIVATE.pem")};
    QCommandLineOption verify{QStringLiteral("verify"),
                              QStringLiteral("Check the signature instead of signing.")};
    QCommandLineOption pubkey{
        QStringLiteral("pubkey"),
        QStringLiteral("PEM public key to check against; default: the key built into this build."),
        QStringLiteral("PUBLIC.pem")};
    QCommandLineOption verbose{QStringLiteral("verbose"), QStringLiteral("Show the verifier's log lines.")};
};

void describe(QCommandLineParser &parser, const Options &options)
{
    parser.setApplicationDescription(QStringLiteral(
        "Appends a module signature block to a module library, or checks one.\n"
        "  vyr-sign-module --key PRIVATE.pem MODULE.so\n"
        "  vyr-sign-module --verify [--pubkey PUBLIC.pem] MODULE.so\n"
        "Exit code 0 on success, 1 when signing is refused or a signature is not valid, 2 on usage errors."));
    parser.addHelpOption();
    parser.addOptions({options.key, options.verify, options.pubkey, options.verbose});
    parser.addPositionalArgument(QStringLiteral("MODULE"), QStringLiteral("The module library file."));
}

} // namespace

int main(int argc, char *argv[])
{
    const QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vyr-sign-module"));
    QCommandLineParser parser;
    const Options options;
    describe(parser, options);
    parser.process(application);

    const QStringList modules = parser.positionalArguments();
    if (modules.size() != 1)
        return usageError(parser, QStringLiteral("name exactly one module file"));
    if (parser.isSet(options.verify) == parser.isSet(options.key))
        return usageError(parser, QStringLiteral("give either --key or --verify"));
    setUpLogging(parser.isSet(options.verbose));
    if (parser.isSet(options.verify)) {
        const auto publicKey =
            parser.isSet(options.pubkey) ? std::optional(parser.value(options.pubkey)) : std::nullopt;
        return report(ModuleSigner::verify(modules.first(), publicKey));
    }
    return report(ModuleSigner::sign(modules.first(), parser.value(options.key)));
}
