#include "CORSSettings.h"

#include "RequestTarget.h"
#include "common/SharedTypes.h"
#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "logging/LogStatement.h"
#include "modules/DllManager.h"
#include "modules/DllModule.h"
#include "modules/VerifiedModules.h"
#include "settings/CSettings.h"

#include <QFileInfo>
#include <algorithm>

namespace {

const QMap<QByteArray, QList<QByteArray>> kBuiltInAllowedOrigins = {
    {"tessaroma", {"https://sign.example.com", "https://192.0.2.10/"}},
    {"brevalo",
     {"https://brevalo.example.com", "https://www.brevalo.example.com", "https://sign.brevalo.example.com",
      "https://portal.example.org", "https://www.portal.example.org", "https://bank.example.net",
      "https://online.bank.example.net", "https://test.brevalo.example.com"}},
    {"quintara",
     {"https://quintara.example.com", "https://www.quintara.example.com", "https://quintara.example.org",
      "https://signer.example.net", "https://signer.example.net:5230", "https://signer.example.net:5231"}},
    // The user's keys: only the origins its own settings name, none when it cannot say.
    {"signer", {}},
};

const QByteArray kNullOrigin = "null";

// Browsers send an origin as visible ASCII. Anything else is never echoed: a carriage
// return or NUL would land inside the answer's header block.
bool isEchoable(const QByteArray &origin)
{
    return std::all_of(origin.cbegin(), origin.cend(), [](char c) { return c > 0x20 && c < 0x7f; });
}
} // namespace

const QMap<QByteArray, QList<QByteArray>> &CORSSettings::builtInAllowedOrigins()
{
    return kBuiltInAllowedOrigins;
}

CORSSettings *CORSSettings::instance()
{
    // Thread-safe first use; the settings singleton lives as long as the process and does
    // its own locking on every read.
    static CORSSettings policy(settingsSource(*CSettings::instance()));
    return &policy;
}

CORSSettings::CORSSettings(Source source) : m_oSource(std::move(source)) {}

CORSSettings::Source CORSSettings::settingsSource(const CSettings &settings)
{
    return {[&settings] { return settings.ReadEnableCORS(); },
            [&settings] { return settings.ReadDllDirPaths(); }};
}

void CORSSettings::setCORSHeaders(const HttpRequest &request, HttpResponse &response) const
{
    const QByteArray origin = request.header("Origin");
    const bool allowed = allowsOrigin(getModuleName(request), origin);
    const QByteArray allowOrigin = allowOriginValue(request, origin, allowed);
    response.setHeader("Access-Control-Allow-Origin", allowOrigin);
    response.setHeader("Access-Control-Allow-Methods", kAllowedMethods);
    response.setHeader("Access-Control-Max-Age", kMaxAge);
    response.setHeader("Access-Control-Allow-Headers", kAllowedHeaders);
    response.setHeader("Access-Control-Allow-Credentials", kAllowCredentials);
    // Chromium asks before a public page may reach a loopback address. Only a page whose
    // origin the answer names is let through; a refused one learns nothing more.
    if (request.header("Access-Control-Request-Private-Network") == "true" && allowOrigin != kNullOrigin)
        response.setHeader("Access-Control-Allow-Private-Network", "true");
}

bool CORSSettings::allowsOrigin(const QByteArray &moduleName, const QByteArray &origin) const
{
    if (origin.isEmpty() || moduleName.isEmpty() || !builtInAllowedOrigins().contains(moduleName))
        return true;
    if (!m_oSource.enableCORS()) {
        VYR_LOG_SERVER(Warning) << "CORS disabled";
        return true;
    }
    return isEchoable(origin) && isOriginAllowed(moduleName, origin);
}

bool CORSSettings::allowsRequest(const HttpRequest &request, const QByteArray &jobModule) const
{
    if (isCORSDisabledForRequest(request))
        return true;
    const QByteArray origin = request.header("Origin");
    const bool allowed = allowsOrigin(getModuleName(request), origin) && allowsOrigin(jobModule, origin);
    if (!allowed)
        VYR_LOG_SERVER(Warning) << "Request refused: its origin is not allowed for the module";
    return allowed;
}

QByteArray CORSSettings::replyAllowOriginValue(const HttpRequest &request, bool allowed)
{
    // Local programs and sandboxed pages send no usable origin: any reader may see the answer.
    const QByteArray origin = request.header("Origin");
    if (allowed && (origin.isEmpty() || origin == kNullOrigin))
        return "*";
    return allowOriginValue(request, origin, allowed);
}

bool CORSSettings::isOriginAllowed(const QByteArray &moduleName, const QByteArray &origin) const
{
    const QList<QByteArray> origins = getAllowedOriginsForModule(moduleName);
    VYR_LOG_SERVER(Debug) << "Allowed origins for: " << moduleName << ":" << origins.join(',');
    return origins.contains(origin) || origins.contains(origin + '/');
}

QByteArray CORSSettings::allowOriginValue(const HttpRequest &request, const QByteArray &origin, bool allowed)
{
    if (!isEchoable(origin)) {
        VYR_LOG_SERVER(Warning) << "Origin not allowed due to CORS policy: " << origin.size()
                                << " bytes, not all of them visible ASCII";
        return kNullOrigin;
    }
    if (isCORSDisabledForRequest(request)) {
        VYR_LOG_SERVER(Debug) << "CORS disabled for this request";
        return origin;
    }
    if (!allowed) {
        VYR_LOG_SERVER(Warning) << "Origin not allowed due to CORS policy";
        return kNullOrigin;
    }
    return origin;
}

QByteArray CORSSettings::getModuleName(const HttpRequest &request) const
{
    QByteArray moduleName = RequestTarget::of(request).module;
    if (!moduleName.isEmpty())
        VYR_LOG_SERVER(Debug) << "module name: " << moduleName;
    return moduleName;
}

bool CORSSettings::isCORSDisabledForRequest(const HttpRequest &request)
{
    const QByteArray command = RequestTarget::of(request).command;
    return command == "SERVER_VERSION" || command == "ALIVE";
}

QList<QByteArray> CORSSettings::getAllowedOriginsForModule(const QByteArray &moduleName) const
{
    for (const QString &directory : m_oSource.moduleDirectories()) {
        const QString libraryFile =
            DllManager::getModuleFilepath(directory, moduleName) + QLatin1String(DllModule::kLibrarySuffix);
        const std::unique_ptr<ModuleLibrary> library = loadVerifiedLibrary(libraryFile);
        if (!library)
            continue;
        // The first library that loads decides, with or without the export.
        if (std::optional<QList<QByteArray>> origins = originsExportedBy(*library, libraryFile))
            return *std::move(origins);
        break;
    }
    VYR_LOG_SERVER(Info) << "Module " << moduleName << " does not exist or support GetAllowedOrigins";
    return builtInAllowedOrigins().value(moduleName);
}

std::optional<QList<QByteArray>> CORSSettings::originsExportedBy(const ModuleLibrary &library,
                                                                 const QString &libraryFile)
{
    const auto getAllowedOrigins = reinterpret_cast<tpOriginsFun>(library.resolve(kVyrOriginsExport));
    if (!getAllowedOrigins)
        return std::nullopt;
    QByteArray origins;
    try {
        const QByteArray answer = getAllowedOrigins();
        // A deep copy: the answer may point into the library's own data, which goes
        // away when the library is unloaded.
        origins = QByteArray(answer.constData(), answer.size());
    } catch (...) {
        VYR_LOG_SERVER(Warning) << "GetAllowedOrigins of " << libraryFile << " threw; using the table";
        return std::nullopt;
    }
    VYR_LOG_SERVER(Debug) << "Allowed origins: " << origins;
    return origins.split(',');
}

std::unique_ptr<CORSSettings::ModuleLibrary> CORSSettings::loadVerifiedLibrary(const QString &libraryFile)
{
    if (!QFileInfo(libraryFile).isFile())
        return nullptr;
    // The same check as module loading: a preflight never runs code the maker did not sign.
    if (!VerifiedModules::verify(libraryFile)) {
        VYR_LOG_SERVER(Warning) << "Not loading " << libraryFile
                                << " for CORS: the module file is not verified";
        return nullptr;
    }
    auto library = std::make_unique<ModuleLibrary>(libraryFile);
    if (!library->isOpen()) {
        VYR_LOG_SERVER(Warning) << "Cannot load " << libraryFile << " for CORS: " << library->errorString();
        return nullptr;
    }
    return library;
}
