#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class CSettings;
class HttpRequest;
class HttpResponse;

// Which web origins may call the server from a browser, decided per module, and the
// Access-Control headers of every preflight answer. A module listed in the built-in table
// is restricted to the origins its own GetAllowedOrigins export announces, or else to its
// table row; every other module answers any origin. A refused origin is not blocked here:
// the preflight's answer names "null", so the browser never sends the real request, and a
// request that comes without a preflight is refused by the controller (allowsRequest).
// Any thread may call it; it keeps no state between calls.
class CORSSettings
{
public:
    // Where the switch and the module directories come from; asked on every call, so an
    // edited INI counts from the next preflight on.
    struct Source
    {
        std::function<bool()> enableCORS;
        std::function<QStringList()> moduleDirectories; // absolute, in search order
    };

    // The process's policy, reading CSettings::instance(); created on first use.
    static CORSSettings *instance();
    explicit CORSSettings(Source source);
    // Reads the given settings object, which must outlive the policy.
    static Source settingsSource(const CSettings &settings);

    void setCORSHeaders(const HttpRequest &request, HttpResponse &response) const;
    // Whether a page of this origin may use the module. No origin (a local program), no
    // module, a module outside the table or CORS switched off: allowed.
    bool allowsOrigin(const QByteArray &moduleName, const QByteArray &origin) const;
    // Whether the request's origin may start what it names or collect a result of
    // jobModule (empty when it collects none). The same decision as the preflight's, so a
    // simple POST that skips the preflight gets no further than a refused preflight would.
    bool allowsRequest(const HttpRequest &request, const QByteArray &jobModule = {}) const;
    // Access-Control-Allow-Origin of a reply to a POST.
    static QByteArray replyAllowOriginValue(const HttpRequest &request, bool allowed);
    QByteArray getModuleName(const HttpRequest &request) const;
    QList<QByteArray> getAllowedOriginsForModule(const QByteArray &moduleName) const;
    static bool isCORSDisabledForRequest(const HttpRequest &request);

    // Deployment data, fixed before main() runs: module name to the origins allowed for it,
    // each written as an "Origin" header carries it (some with a trailing slash).
    static const QMap<QByteArray, QList<QByteArray>> &builtInAllowedOrigins();

    static constexpr char kAllowedMethods[] = "POST, OPTIONS";
    static constexpr char kMaxAge[] = "1000";
    static constexpr char kAllowedHeaders[] =
        "Content-Type, Authorization, X-Requested-With, X-VYR-cmdId, X-VYR-sessionId";
    static constexpr char kAllowCredentials[] = "true";

private:
    // A module library opened for one preflight. The dynamic loader counts every open, so
    // closing it never unloads a library the module manager holds. (QLibrary would not do:
    // unload() through any one of its objects unloads the library for all of them.)
    class ModuleLibrary
    {
    public:
        // Check isOpen(); errorString() tells why not.
        explicit ModuleLibrary(const QString &libraryFile);
        bool isOpen() const { return m_poHandle != nullptr; }
        QString errorString() const { return m_oError; }
        void *resolve(const char *symbol) const;

    private:
        struct Close
        {
            void operator()(void *handle) const;
        };
        std::unique_ptr<void, Close> m_poHandle;
        QString m_oError;
    };

    static std::unique_ptr<ModuleLibrary> loadVerifiedLibrary(const QString &libraryFile);
    static std::optional<QList<QByteArray>> originsExportedBy(const ModuleLibrary &library,
                                                              const QString &libraryFile);
    bool isOriginAllowed(const QByteArray &moduleName, const QByteArray &origin) const;
    static QByteArray allowOriginValue(const HttpRequest &request, const QByteArray &origin, bool allowed);

    Source m_oSource;
};
