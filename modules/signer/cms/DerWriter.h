#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>

// The few DER encodings a CMS SignedData needs. Every function returns one complete
// element (tag, length, contents); constructed elements take their children already encoded.
namespace der {

QByteArray element(unsigned char tag, const QByteArray &contents);
QByteArray sequence(const QList<QByteArray> &children);
// A SET OF in DER order. Sorting the whole encodings is enough: a complete element is never
// a proper prefix of another, so plain byte order equals the padded order DER asks for.
QByteArray setOf(QList<QByteArray> children);
QByteArray explicitTag(int number, const QByteArray &child);
// An [n] IMPLICIT SET OF: the same sorted members under a context tag.
QByteArray implicitSetOf(int number, const QList<QByteArray> &children);
QByteArray objectIdentifier(const char *dotted);
QByteArray integer(int value);
QByteArray octetString(const QByteArray &bytes);
QByteArray null();
// UTCTime for 1950 to 2049, GeneralizedTime beyond, as CMS requires for the signing time.
QByteArray time(const QDateTime &utc);

} // namespace der
