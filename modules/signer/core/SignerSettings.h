#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace vyr::signer {

// Where the module looks for keys. The system file beside the module sets the defaults for
// everyone; each key the user's own file sets wins over it:
//   [pkcs11] useProxy=true            every PKCS#11 module the system registers, via p11-kit
//            libraries=/a.so, /b.so   more PKCS#11 libraries
//   [pkcs12] directory=...            the PKCS#12 files
//   [nss]    database=sql:...         the browser's certificate database; empty: none
//   [origins] allowed=https://a.example, http://localhost:8600
//                                     the only web origins whose pages the server lets in
struct SignerSettings
{
    // The server reads the list on every request from a page; these bound what a broken or
    // hostile file can make it hold.
    static constexpr qsizetype kMaxOrigins = 64;
    static constexpr qsizetype kMaxOriginLength = 256;

    bool useProxy = true;
    QStringList pkcs11Libraries;
    QString pkcs12Directory;
    QString nssDatabase;
    QList<QByteArray> allowedOrigins; // exact, as a browser writes its Origin header

    static SignerSettings load(const QString &systemFile, const QString &userFile);
    // The usual pair: signer.ini beside the module and $XDG_CONFIG_HOME/veltrane/signer.ini.
    static SignerSettings load();
    static QString systemFile();
    static QString userFile();
    static QString defaultPkcs12Directory(); // $XDG_DATA_HOME/veltrane/certificates
    static QString defaultNssDatabase();     // sql:$HOME/.pki/nssdb
    static QString proxyLibrary();
};

} // namespace vyr::signer
