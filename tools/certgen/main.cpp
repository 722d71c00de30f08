#include "CertGenException.h"
#include "CertGenerator.h"
#include "logging/LogChannels.h"
#include "logging/LogLevel.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTextStream>
#include <unistd.h>

namespace {
constexpr int kExitFailure = 1;
constexpr int kExitRefused = 2;

CertGenOptions parseOptions(const QCoreApplication &application)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Creates this machine's local certificate authority (or reuses it) and the server's TLS certificate "
        "and key, the key encrypted with this machine's pass phrase."));
    parser.addHelpOption();
    const QCommandLineOption appDir(QStringLiteral("app-dir"),
                                    QStringLiteral("Application directory (default: this tool's directory)."),
                                    QStringLiteral("DIR"), QCoreApplication::applicationDirPath());
    const QCommandLineOption stateDir(
        QStringLiteral("state-dir"),
        QStringLiteral("Machine state directory holding the seed (default: %1).")
            .arg(QStringLiteral(VYR_STATE_DIR)),
        QStringLiteral("DIR"), QStringLiteral(VYR_STATE_DIR));
    const QCommandLineOption caDir(QStringLiteral("ca-dir"), QStringLiteral("Local authority directory."),
                                   QStringLiteral("DIR"));
    const QCommandLineOption force(QStringLiteral("force"), QStringLiteral("Replace existing server files."));
    parser.addOptions({appDir, stateDir, caDir, force});
    parser.process(application);

    CertGenOptions options;
    options.privileged = ::geteuid() == 0;
    // Absolute paths, so that what the tool prints can be pasted from anywhere.
    const QString state = QDir(parser.value(stateDir)).absolutePath();
    options.appDir = QDir(parser.value(appDir)).absolutePath();
    options.identity.seedPath = CertGenOptions::seedPathIn(state);
    options.caDir = parser.isSet(caDir) ? QDir(parser.value(caDir)).absolutePath()
                                        : CertGenOptions::defaultCaDir(options.privileged, state);
    options.force = parser.isSet(force);
    return options;
}

void printTrustHelp(QTextStream &out, const QString &authority)
{
    out << "\nTo trust the local authority in a browser, import " << authority << " as an authority:\n"
        << "  Firefox: Settings > Privacy & Security > Certificates > View Certificates > Authorities > "
           "Import,\n"
        << "           then tick \"Trust this CA to identify websites\".\n"
        << "  Chrome/Chromium: Settings > Privacy and security > Security > Manage certificates > Authorities"
           " > Import.\n"
        << "  Or for Chrome/Chromium from a shell: certutil -d sql:$HOME/.pki/nssdb -A -t \"C,,\""
           " -n \"Veltrane Local Authority\" -i "
        << authority << "\n"
        << "  System-wide (Debian): cp " << authority
        << " /usr/local/share/ca-certificates/veltrane-local-authority.crt && update-ca-certificates\n";
}

int report(const CertGenerator::Result &result, const CertGenOptions &options)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (result.outcome == CertGenerator::Outcome::Refused) {
        err << "vyr-certgen: not replacing existing files (use --force to replace them):\n";
        for (const QString &path : result.existing)
            err << "  " << path << "\n";
        return kExitRefused;
    }
    if (result.seed == CertGenerator::SeedState::MissingUnprivileged)
        err << "vyr-certgen: warning: there is no machine seed " << options.identity.seedPath
            << " and only root can create it. The key made now stops opening once a machine seed is created;"
               " run vyr-certgen as root first, or again with --force afterwards.\n";
    if (result.seed == CertGenerator::SeedState::Created)
        out << "Created the machine seed " << options.identity.seedPath << "\n";
    out << (result.authorityCreated ? "Created the local authority in " : "Reused the local authority in ")
        << options.caDir << "\n";
    for (const QString &path : result.written)
        out << "Wrote " << path << "\n";
    printTrustHelp(out, result.authorityCertificate);
    return 0;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vyr-certgen"));
    const CertGenOptions options = parseOptions(application);
    // The pass phrase code logs through the shared channels; this tool talks on the console only.
    vyrcommonsLogChannel().initializeWithSinks(static_cast<int>(LogLevel::Off), 0, QString(), {});
    try {
        return report(CertGenerator(options).run(), options);
    } catch (const CertGenException &e) {
        QTextStream(stderr) << "vyr-certgen: " << e.getMessage() << "\n";
    } catch (const std::exception &e) {
        QTextStream(stderr) << "vyr-certgen: " << e.what() << "\n";
    }
    return kExitFailure;
}
