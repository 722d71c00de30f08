#include "BrowserTrust.h"
#include "CertGenException.h"
#include "CertGenerator.h"
#include "CertificateAuthority.h"
#include "logging/LogChannels.h"
#include "logging/LogLevel.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTextStream>
#include <optional>
#include <unistd.h>

namespace {
constexpr int kExitFailure = 1;
constexpr int kExitRefused = 2;

// --trust-browsers / --untrust-browsers: the invoking user's browsers only, nothing provisioned.
struct BrowserTrustRequest
{
    std::optional<BrowserTrust::Action> action;
    QString authorityFile;
};

struct BrowserTrustOptions
{
    QCommandLineOption trust{
        QStringLiteral("trust-browsers"),
        QStringLiteral("Add the local authority to this user's Chromium/Chrome and Firefox "
                       "certificate stores (needs certutil), then stop.")};
    QCommandLineOption untrust{QStringLiteral("untrust-browsers"),
                               QStringLiteral("Remove the local authority from those stores, then stop.")};
    QCommandLineOption ca{
        QStringLiteral("ca"),
        QStringLiteral("Authority certificate to trust (default: <app-dir>/certs/VYR-ca.pem)."),
        QStringLiteral("FILE")};
};

BrowserTrustRequest browserTrustRequest(const QCommandLineParser &parser, const BrowserTrustOptions &trust,
                                        const QString &appDir)
{
    BrowserTrustRequest request;
    if (parser.isSet(trust.trust))
        request.action = BrowserTrust::Action::Trust;
    else if (parser.isSet(trust.untrust))
        request.action = BrowserTrust::Action::Untrust;
    request.authorityFile =
        parser.isSet(trust.ca)
            ? QDir(parser.value(trust.ca)).absolutePath()
            : appDir + QStringLiteral("/certs/") + QLatin1String(CertificateAuthority::kCertificateFileName);
    return request;
}

CertGenOptions parseOptions(const QCoreApplication &application, BrowserTrustRequest &trustRequest)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Creates this machine's local certificate authority (or reuses it) and the server's TLS certificate "
        "and key, the key encrypted with this machine's pass phrase.\n"
        "With --trust-browsers or --untrust-browsers it only changes this user's browser certificate "
        "stores;\n"
        "exit codes then: 0 done, 1 certutil failed on a store, 3 certutil missing, 4 authority missing."));
    parser.addHelpOption();
    const QCommandLineOption appDir(QStringLiteral("app-dir"),
                                    QStringLiteral("Application directory (default: this tool's directory)."),
                                    QStringLiteral("DIR"), QCoreApplication::applicationDirPath());
    const QCommandLineOption stateDir(
        QStringLiteral("state-dir"),
        QStringLiteral("Machine state directory holding the machine seed (default: %1).")
            .arg(QStringLiteral(VYR_STATE_DIR)),
        QStringLiteral("DIR"), QStringLiteral(VYR_STATE_DIR));
    const QCommandLineOption caDir(QStringLiteral("ca-dir"), QStringLiteral("Local authority directory."),
                                   QStringLiteral("DIR"));
    const QCommandLineOption force(QStringLiteral("force"), QStringLiteral("Replace existing server files."));
    const BrowserTrustOptions trust;
    parser.addOptions({appDir, stateDir, caDir, force, trust.trust, trust.untrust, trust.ca});
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
    trustRequest = browserTrustRequest(parser, trust, options.appDir);
    return options;
}

void printTrustHelp(QTextStream &out, const QString &authority)
{
    out << "\nTo trust the local authority in your browsers, run as that user: vyr-certgen --trust-browsers "
           "--ca "
        << authority << "\nOr import " << authority << " as an authority by hand:\n"
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

// This user's browsers that trusted the replaced authority trust the new one instead; other
// accounts' browsers follow when their server starts (its unit runs --trust-browsers).
void renewBrowserTrust(const CertGenerator::Result &result, QTextStream &out, QTextStream &err)
{
    const BrowserTrust trust(QDir::homePath(), result.authorityCertificate, Certutil::locate());
    if (trust.renew(result.replacedAuthority, out, err) != BrowserTrust::kDone)
        err << "vyr-certgen: warning: some browsers still trust the replaced authority; run "
               "vyr-certgen --trust-browsers as their user\n";
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
    if (!result.replacedAuthority.isEmpty())
        out << "Replaced the local authority in " << options.caDir
            << ": it could sign for any host name; the new one signs for 127.0.0.1, ::1 and localhost only\n";
    else
        out << (result.authorityCreated ? "Created the local authority in "
                                        : "Reused the local authority in ")
            << options.caDir << "\n";
    for (const QString &path : result.written)
        out << "Wrote " << path << "\n";
    if (!result.replacedAuthority.isEmpty())
        renewBrowserTrust(result, out, err);
    printTrustHelp(out, result.authorityCertificate);
    return 0;
}

int runBrowserTrust(BrowserTrust::Action action, const QString &authorityFile)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    const BrowserTrust trust(QDir::homePath(), authorityFile, Certutil::locate());
    return trust.run(action, out, err);
}
} // namespace

int main(int argc, char **argv)
{
    const QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vyr-certgen"));
    BrowserTrustRequest trustRequest;
    const CertGenOptions options = parseOptions(application, trustRequest);
    if (trustRequest.action)
        return runBrowserTrust(*trustRequest.action, trustRequest.authorityFile);
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
