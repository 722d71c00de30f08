#include "DerWriter.h"

#include <algorithm>

namespace der {
namespace {

constexpr unsigned char kInteger = 0x02;
constexpr unsigned char kOctetString = 0x04;
constexpr unsigned char kNull = 0x05;
constexpr unsigned char kObjectIdentifier = 0x06;
constexpr unsigned char kUtcTime = 0x17;
constexpr unsigned char kGeneralizedTime = 0x18;
constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kSet = 0x31;
constexpr unsigned char kContextConstructed = 0xA0;

QByteArray encodedLength(qsizetype length)
{
    if (length < 0x80)
        return QByteArray(1, static_cast<char>(length));
    QByteArray bytes;
    for (auto rest = static_cast<quint64>(length); rest != 0; rest >>= 8)
        bytes.prepend(static_cast<char>(rest & 0xFF));
    bytes.prepend(static_cast<char>(0x80 | bytes.size()));
    return bytes;
}

// One arc in base 128, most significant group first, every group but the last flagged.
void appendArc(QByteArray &out, quint64 arc)
{
    QByteArray groups(1, static_cast<char>(arc & 0x7F));
    for (arc >>= 7; arc != 0; arc >>= 7)
        groups.prepend(static_cast<char>(0x80 | (arc & 0x7F)));
    out += groups;
}

} // namespace

QByteArray element(unsigned char tag, const QByteArray &contents)
{
    return static_cast<char>(tag) + encodedLength(contents.size()) + contents;
}

QByteArray sequence(const QList<QByteArray> &children)
{
    return element(kSequence, children.join());
}

QByteArray setOf(QList<QByteArray> children)
{
    std::sort(children.begin(), children.end());
    return element(kSet, children.join());
}

QByteArray explicitTag(int number, const QByteArray &child)
{
    return element(static_cast<unsigned char>(kContextConstructed | number), child);
}

QByteArray implicitSetOf(int number, const QList<QByteArray> &children)
{
    QByteArray encoded = setOf(children);
    encoded[0] = static_cast<char>(kContextConstructed | number);
    return encoded;
}

QByteArray objectIdentifier(const char *dotted)
{
    const QList<QByteArray> arcs = QByteArray(dotted).split('.');
    QByteArray contents;
    appendArc(contents, arcs.at(0).toULongLong() * 40 + arcs.at(1).toULongLong());
    for (qsizetype i = 2; i < arcs.size(); ++i)
        appendArc(contents, arcs.at(i).toULongLong());
    return element(kObjectIdentifier, contents);
}

QByteArray integer(int value)
{
    // Only small non-negative versions are written here; one or two bytes hold them.
    QByteArray contents(1, static_cast<char>(value & 0xFF));
    if (value > 0x7F)
        contents.prepend(static_cast<char>((value >> 8) & 0xFF));
    return element(kInteger, contents);
}

QByteArray octetString(const QByteArray &bytes)
{
    return element(kOctetString, bytes);
}

QByteArray null()
{
    return element(kNull, {});
}

QByteArray time(const QDateTime &utc)
{
    const QDateTime moment = utc.toUTC();
    const int year = moment.date().year();
    if (year >= 1950 && year < 2050)
        return element(kUtcTime, moment.toString(QStringLiteral("yyMMddHHmmss'Z'")).toLatin1());
    return element(kGeneralizedTime, moment.toString(QStringLiteral("yyyyMMddHHmmss'Z'")).toLatin1());
}

} // namespace der
