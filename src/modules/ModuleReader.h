#pragma once

#include "ModulePublicKey.h"

#include <QBuffer>
#include <QByteArray>
#include <QSharedPointer>
#include <QString>
#include <optional>

// Reads a module file and checks the RSA signature appended to it (ModuleSignatureBlock)
// against the module-signing key. The whole file is read at construction; nothing here
// throws, and no size found in the file can make it read outside those bytes.
class ModuleReader
{
public:
    // executableHeaderMode: honour a PE file's headers and certificate table and look for
    // octaword padding after the marker. A file without a PE header is signed from byte 0.
    ModuleReader(const QString &path, bool executableHeaderMode);
    // The same with another key than the compiled-in one (tests, the signing tool).
    ModuleReader(const QString &path, bool executableHeaderMode, ModulePublicKey key);

    bool verify();
    ~ModuleReader();
    // Parses the block; isRead() tells whether it was complete.
    void readModule();
    bool verifySignModuleSignature();

    int getOctawordPaddingSize(const QByteArray &lastBytes) const;

    bool isRead() const { return m_bRead; }
    const QByteArray &moduleData() const { return m_oModuleData; }
    const QByteArray &signature() const { return m_oSignature; }

private:
    // Where the signed region starts and where its marker sits.
    struct Region
    {
        qint64 start = 0;
        qint64 signEndPos = 0;
    };
    Region locateExecutableRegion(qint64 fileSize);
    std::optional<qint64> readSignatureSize(const QByteArray &bytes, qint64 signEndPos);
    bool takeSignedParts(const QByteArray &bytes, const Region &region, qint64 signatureSize);

    QString m_oFilePath;
    QSharedPointer<QBuffer> m_poBuffer;
    QByteArray m_oModuleData;
    QByteArray m_oSignature;
    bool m_bRead = false;
    bool m_bExecutableHeaderMode = false;
    ModulePublicKey m_oKey;
};
