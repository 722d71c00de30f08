#include "ElfSonameReader_linux.h"

#include <QFile>
#include <QtEndian>

namespace {

constexpr quint32 kSectionDynamic = 6;
constexpr quint64 kTagNull = 0;
constexpr quint64 kTagSoname = 14;
constexpr quint64 kMaxTableSize = 4 * 1024 * 1024;
constexpr quint64 kMaxSonameLength = 4096;

// Offsets of the fields this reader needs, for 32- and 64-bit files.
struct ElfLayout
{
    int wordSize;
    qsizetype sectionTableOffset, sectionEntrySize, sectionCount;
    qsizetype typeAt, offsetAt, sizeAt, linkAt;
};

constexpr ElfLayout kElf32{4, 0x20, 0x2E, 0x30, 0x04, 0x10, 0x14, 0x18};
constexpr ElfLayout kElf64{8, 0x28, 0x3A, 0x3C, 0x04, 0x18, 0x20, 0x28};

struct Section
{
    quint32 type = 0;
    quint64 offset = 0;
    quint64 size = 0;
    quint32 link = 0;
};

class ElfFile
{
public:
    ElfFile(QFile &file, const ElfLayout &layout, bool bigEndian)
        : m_oFile(file), m_oLayout(layout), m_bBigEndian(bigEndian), m_iFileSize(quint64(file.size()))
    {
    }

    std::optional<QByteArray> readAt(quint64 offset, quint64 size) const
    {
        if (size > kMaxTableSize || offset > m_iFileSize || size > m_iFileSize - offset ||
            !m_oFile.seek(qint64(offset)))
            return std::nullopt;
        QByteArray bytes = m_oFile.read(qint64(size));
        return quint64(bytes.size()) == size ? std::optional<QByteArray>(bytes) : std::nullopt;
    }

    // Callers check that [at, at + width) lies inside bytes.
    quint64 number(const QByteArray &bytes, qsizetype at, int width) const
    {
        const uchar *data = reinterpret_cast<const uchar *>(bytes.constData()) + at;
        switch (width) {
        case 2:
            return m_bBigEndian ? qFromBigEndian<quint16>(data) : qFromLittleEndian<quint16>(data);
        case 4:
            return m_bBigEndian ? qFromBigEndian<quint32>(data) : qFromLittleEndian<quint32>(data);
        default:
            return m_bBigEndian ? qFromBigEndian<quint64>(data) : qFromLittleEndian<quint64>(data);
        }
    }

    const ElfLayout &layout() const { return m_oLayout; }

private:
    QFile &m_oFile;
    const ElfLayout &m_oLayout;
    bool m_bBigEndian;
    quint64 m_iFileSize;
};

std::optional<QList<Section>> readSections(const ElfFile &elf, const QByteArray &header)
{
    const ElfLayout &layout = elf.layout();
    const quint64 tableOffset = elf.number(header, layout.sectionTableOffset, layout.wordSize);
    const quint64 entrySize = elf.number(header, layout.sectionEntrySize, 2);
    const quint64 count = elf.number(header, layout.sectionCount, 2);
    if (entrySize < quint64(layout.linkAt + 4) || count == 0)
        return std::nullopt;
    const auto table = elf.readAt(tableOffset, entrySize * count);
    if (!table)
        return std::nullopt;
    QList<Section> sections;
    for (quint64 index = 0; index < count; ++index) {
        const QByteArray entry = table->mid(qsizetype(index * entrySize), qsizetype(entrySize));
        sections.append({quint32(elf.number(entry, layout.typeAt, 4)),
                         elf.number(entry, layout.offsetAt, layout.wordSize),
                         elf.number(entry, layout.sizeAt, layout.wordSize),
                         quint32(elf.number(entry, layout.linkAt, 4))});
    }
    return sections;
}

std::optional<quint64> sonameOffset(const ElfFile &elf, const Section &dynamic)
{
    const auto entries = elf.readAt(dynamic.offset, dynamic.size);
    if (!entries)
        return std::nullopt;
    const int word = elf.layout().wordSize;
    for (qsizetype at = 0; at + 2 * word <= entries->size(); at += 2 * word) {
        const quint64 tag = elf.number(*entries, at, word);
        if (tag == kTagNull)
            break;
        if (tag == kTagSoname)
            return elf.number(*entries, at + word, word);
    }
    return std::nullopt;
}

std::optional<QByteArray> readString(const ElfFile &elf, const Section &strings, quint64 offset)
{
    if (offset >= strings.size)
        return std::nullopt;
    const auto bytes = elf.readAt(strings.offset + offset, std::min(strings.size - offset, kMaxSonameLength));
    if (!bytes)
        return std::nullopt;
    const qsizetype end = bytes->indexOf('\0');
    if (end <= 0)
        return std::nullopt;
    return bytes->left(end);
}

} // namespace

std::optional<QByteArray> ElfSonameReader::read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray header = file.read(64);
    if (header.size() < 52 || !header.startsWith("\x7f"
                                                 "ELF"))
        return std::nullopt;
    const char elfClass = header.at(4);
    const char encoding = header.at(5);
    if ((elfClass != 1 && elfClass != 2) || (encoding != 1 && encoding != 2) ||
        (elfClass == 2 && header.size() < 64))
        return std::nullopt;
    const ElfFile elf(file, elfClass == 1 ? kElf32 : kElf64, encoding == 2);
    const auto sections = readSections(elf, header);
    if (!sections)
        return std::nullopt;
    for (const Section &section : *sections) {
        if (section.type != kSectionDynamic || section.link >= quint32(sections->size()))
            continue;
        const auto offset = sonameOffset(elf, section);
        return offset ? readString(elf, sections->at(section.link), *offset) : std::nullopt;
    }
    return std::nullopt;
}
