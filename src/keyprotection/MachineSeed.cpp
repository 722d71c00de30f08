#include "MachineSeed.h"

#include <QRandomGenerator>
#include <QTime>

QByteArray MachineSeed::generate(quint32 generatorSeed)
{
    QRandomGenerator generator(generatorSeed);
    QByteArray seed(kLength, Qt::Uninitialized);
    for (char &letter : seed)
        letter = static_cast<char>('A' + generator.generate() % 25);
    return seed;
}

QByteArray MachineSeed::generate()
{
    return generate(static_cast<quint32>(QTime::currentTime().msec()));
}
