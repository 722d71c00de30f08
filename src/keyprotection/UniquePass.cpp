#include "UniquePass.h"

#include "logging/LogStatement.h"

#include <QString>
#include <algorithm>
#include <array>
#include <cctype>
#include <openssl/evp.h>

namespace {
enum Piece : unsigned
{
    Seed = 1u,
    MachineGuid = 2u,
    MotherboardUuid = 4u
};

// Pieces of each composition mode, appended in the order seed, GUID, UUID.
constexpr std::array<unsigned, 5> kModePieces = {MachineGuid, MotherboardUuid, MachineGuid | MotherboardUuid,
                                                 Seed, Seed | MachineGuid | MotherboardUuid};

unsigned piecesOfMode(unsigned mode)
{
    return mode < kModePieces.size() ? kModePieces[mode] : 0u;
}

bool containsNullText(const QByteArray &bytes)
{
    static constexpr char kNull[] = "null";
    const auto it =
        std::search(bytes.cbegin(), bytes.cend(), std::begin(kNull), std::end(kNull) - 1,
                    [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
    return it != bytes.cend();
}
} // namespace

QMutex UniquePass::s_oLock;

UniquePass::UniquePass(unsigned mode, const UniquePassSources &sources) : UniquePass(mode, false, sources) {}

UniquePass::UniquePass(unsigned mode, bool verbose, const UniquePassSources &sources)
    : m_oSources(sources), m_bVerbose(verbose), m_iMode(mode)
{
    rebuild();
}

UniquePass::~UniquePass()
{
    const QMutexLocker locker(&s_oLock);
    clearPiecesLocked();
}

void UniquePass::rebuild()
{
    const QMutexLocker locker(&s_oLock);
    clearPiecesLocked();
    const unsigned pieces = piecesOfMode(m_iMode);
    QByteArray material;
    // Room for every piece up front: a growing buffer would leave copies in freed memory.
    material.reserve(256);
    if (pieces & Seed)
        material.append(readSeedLocked());
    if (pieces & MachineGuid)
        material.append(readMachineGuidLocked());
    if (pieces & MotherboardUuid)
        material.append(readMotherboardUuidLocked());
    m_oMaterial = SecureObject(std::move(material));
    m_bGathered = true;
}

void UniquePass::clearPiecesLocked()
{
    SecureObject::wipe(m_oRegistrySeed);
    SecureObject::wipe(m_oMachineGuid);
    SecureObject::wipe(m_oMotherboardUuidPiece);
    m_oRegistrySeed.clear();
    m_oMachineGuid.clear();
    m_oMotherboardUuidPiece.clear();
    SecureObject::wipe(m_oMotherboardUuid.data(), m_oMotherboardUuid.size());
    m_oMaterial = SecureObject();
    m_bGathered = false;
}

SecurePass UniquePass::getUniquePassword()
{
    const QMutexLocker locker(&s_oLock);
    return toHexPass(retrieveUniquePassword());
}

SecureObject UniquePass::retrieveUniquePassword() const
{
    if (m_bVerbose)
        VYR_LOG(vyrcommonsLogChannel(), Info) << "Retrieving Unique Password converted to Secure Password.";
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int digestSize = 0;
    const bool ok = EVP_Digest(m_oMaterial.constData(), static_cast<size_t>(m_oMaterial.size()),
                               digest.data(), &digestSize, EVP_sha256(), nullptr) == 1;
    QByteArray bytes;
    if (ok)
        bytes = QByteArray(reinterpret_cast<const char *>(digest.data()), static_cast<qsizetype>(digestSize));
    SecureObject::wipe(digest.data(), digest.size());
    if (m_bVerbose)
        VYR_LOG(vyrcommonsLogChannel(), Info) << "Unique Password retrieved.";
    return SecureObject(std::move(bytes));
}

SecurePass UniquePass::toHexPass(const SecureObject &digest)
{
    static constexpr char kHexDigits[] = "0123456789abcdef";
    QString hex(digest.size() * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < digest.size(); ++i) {
        const auto byte = static_cast<unsigned char>(digest.constData()[i]);
        hex[2 * i] = QLatin1Char(kHexDigits[byte >> 4]);
        hex[2 * i + 1] = QLatin1Char(kHexDigits[byte & 0x0f]);
    }
    const SecurePass pass(hex);
    SecureObject::wipe(hex);
    return pass;
}

void UniquePass::setVerbose(bool verbose)
{
    const QMutexLocker locker(&s_oLock);
    m_bVerbose = verbose;
}

void UniquePass::selfTest()
{
    const QMutexLocker locker(&s_oLock);
    const QByteArray seed = readSeedLocked();
    const QByteArray guid = readMachineGuidLocked();
    const QByteArray uuid = readMotherboardUuidLocked();
    VYR_LOG(vyrcommonsLogChannel(), Debug)
        << "UniquePass Unit Test\n"
        << "Registry Seed: " << seed << "\nMachineGuid: " << guid.toHex()
        << "\nMotherboard UUID: " << uuid.toHex() << "\nbGathered: " << m_bGathered << "\nmode: " << m_iMode;
}

QByteArray UniquePass::getRegistrySeed()
{
    const QMutexLocker locker(&s_oLock);
    return readSeedLocked();
}

QByteArray UniquePass::getMachineGuid()
{
    const QMutexLocker locker(&s_oLock);
    return readMachineGuidLocked();
}

QByteArray UniquePass::getMotherboardUUID()
{
    const QMutexLocker locker(&s_oLock);
    return readMotherboardUuidLocked();
}

bool UniquePass::checkResultInSection(const QByteArray &result, int section)
{
    if (!result.isNull() && !result.isEmpty() && !containsNullText(result))
        return true;
    VYR_LOG(vyrcommonsLogChannel(), Warning) << "validate result failed in section: " << section;
    return false;
}
