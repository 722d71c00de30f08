#include "MachineSeed.h"
#include "UniquePass.h"
#include "logging/LogStatement.h"

#include <QFile>
#include <sys/stat.h>

namespace {
constexpr qint64 kMaxMachineIdSize = 1024;
// Real structure tables are a few KiB; the cap keeps a forged file from exhausting memory.
constexpr qint64 kMaxDmiTableSize = qint64{4} * 1024 * 1024;

enum Section
{
    SeedSection = 1,
    MachineGuidSection = 2,
    MotherboardSection = 3
};
} // namespace

QByteArray UniquePass::readSeedLocked()
{
    QByteArray seed = MachineSeed::read(m_oSources.seedPath);
    if (seed.isEmpty()) {
        // Only a privileged process gets through; the others keep an empty piece, as on
        // every account until the machine seed exists.
        MachineSeed::writeIfMissing(m_oSources.seedPath, MachineSeed::generate());
        seed = MachineSeed::read(m_oSources.seedPath);
        if (m_bVerbose)
            VYR_LOG(vyrcommonsLogChannel(), Info) << "No Registry Seed found. Generated.";
    }
    m_oRegistrySeed = seed;
    checkResultInSection(seed, SeedSection);
    return seed;
}

QByteArray UniquePass::readMachineGuidLocked()
{
    m_oMachineGuid.clear();
    QFile file(m_oSources.machineIdPath);
    if (!file.open(QIODevice::ReadOnly)) {
        if (m_bVerbose)
            VYR_LOG(vyrcommonsLogChannel(), Info)
                << "Unable to read MachineGuid from Registry. Can not open Registry Key.";
    } else {
        // The identifier is the text of its one line; the line break is not part of it.
        const QByteArray text = file.read(kMaxMachineIdSize).trimmed();
        if (file.error() != QFileDevice::NoError) {
            if (m_bVerbose)
                VYR_LOG(vyrcommonsLogChannel(), Info)
                    << "Unable to read MachineGuid from Registry. Error occured during RegQueryValueExA.";
        } else if (text.isEmpty()) {
            if (m_bVerbose)
                VYR_LOG(vyrcommonsLogChannel(), Info)
                    << "Unable to read MachineGuid from Registry. Error "
                       "occured during RegQueryValueExA - request buffer size.";
        } else {
            // Kept with its terminating zero byte, as a registry string value is read.
            m_oMachineGuid = text + '\0';
            if (m_bVerbose)
                VYR_LOG(vyrcommonsLogChannel(), Info)
                    << "MachineGuid has been readed successfully from Registry.";
        }
    }
    checkResultInSection(m_oMachineGuid, MachineGuidSection);
    return m_oMachineGuid;
}

QByteArray UniquePass::readMotherboardUuidLocked()
{
    bool available = false;
    const QByteArray table = readDmiTableLocked(&available);
    if (!available) {
        VYR_LOG(vyrcommonsLogChannel(), Warning)
            << "Unable to get GetSystemFirmwareTable proc address - hardware id isn't supported.";
        m_oMotherboardUuidPiece.clear();
        checkResultInSection(m_oMotherboardUuidPiece, MotherboardSection);
        return {};
    }
    SmbiosTable::findSystemUuid(table, m_oMotherboardUuid);
    m_oMotherboardUuidPiece = QByteArray(reinterpret_cast<const char *>(m_oMotherboardUuid.data()),
                                         static_cast<qsizetype>(m_oMotherboardUuid.size()));
    checkResultInSection(m_oMotherboardUuidPiece, MotherboardSection);
    return m_oMotherboardUuidPiece;
}

QByteArray UniquePass::readDmiTableLocked(bool *available)
{
    *available = false;
    const QByteArray path = QFile::encodeName(m_oSources.dmiTablePath);
    struct stat status = {};
    // A table only root can read would give root and the user servers different pass
    // phrases for one shared key file; every account treats it as absent instead.
    if (::stat(path.constData(), &status) != 0 || !S_ISREG(status.st_mode) || !(status.st_mode & S_IROTH))
        return {};
    QFile file(m_oSources.dmiTablePath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray table = file.read(kMaxDmiTableSize);
    if (file.error() != QFileDevice::NoError)
        return {};
    *available = true;
    return table;
}
