#pragma once

#include "SecureObject.h"
#include "SecurePass.h"
#include "SmbiosTable.h"
#include "UniquePassInterface.h"
#include "UniquePassSources.h"

#include <QByteArray>
#include <QMutex>

// Derives the pass phrase of the server key from what identifies this machine, so a key
// file copied elsewhere does not open. Every account of one machine derives the same
// pass phrase, since the root dispatcher and the user servers share one key file.
//
// Composition modes (pieces concatenated without separator):
//   0 machine GUID, 1 motherboard UUID, 2 GUID + UUID, 3 seed, 4 seed + GUID + UUID,
//   5 and above: nothing. The server uses 4.
class UniquePass : public UniquePassInterface
{
public:
    explicit UniquePass(unsigned mode, const UniquePassSources &sources = UniquePassSources::system());
    UniquePass(unsigned mode, bool verbose, const UniquePassSources &sources = UniquePassSources::system());
    ~UniquePass() override;
    UniquePass(const UniquePass &) = delete;
    UniquePass &operator=(const UniquePass &) = delete;

    SecurePass getUniquePassword() override;
    void setVerbose(bool verbose) override;
    void selfTest() override;
    void rebuild() override;

    unsigned mode() const { return m_iMode; }

    // Each piece as it goes into the material. They take the process-wide lock.
    QByteArray getRegistrySeed();
    QByteArray getMachineGuid();
    QByteArray getMotherboardUUID();

    // False (with a warning naming the section) for a null, empty or "null" result; the
    // caller uses the result either way.
    static bool checkResultInSection(const QByteArray &result, int section);

private:
    // One lock for every object: handlers loading the key at the same time read the
    // machine's sources one after another.
    static QMutex s_oLock;

    // The readers below run with s_oLock held.
    QByteArray readSeedLocked();
    QByteArray readMachineGuidLocked();
    QByteArray readMotherboardUuidLocked();
    QByteArray readDmiTableLocked(bool *available);
    void clearPiecesLocked();
    SecureObject retrieveUniquePassword() const;
    static SecurePass toHexPass(const SecureObject &digest);

    const UniquePassSources m_oSources;
    SmbiosTable::Uuid m_oMotherboardUuid{};
    QByteArray m_oRegistrySeed;
    QByteArray m_oMachineGuid;
    QByteArray m_oMotherboardUuidPiece;
    SecureObject m_oMaterial;
    bool m_bGathered = false;
    bool m_bVerbose = false;
    const unsigned m_iMode;
};
