#pragma once

#include <QString>

// Where the pieces of the machine identity are read from. Tests point these at
// temporary files; the server uses system().
struct UniquePassSources
{
    QString seedPath;      // machine seed, created on first use where the process may
    QString machineIdPath; // machine identifier text
    QString dmiTablePath;  // firmware structure table, without the entry-point header

    static UniquePassSources system();
};
