#include "IncrementalUpdate.h"

#include <QCryptographicHash>
#include <qpdf/QPDF.hh>

namespace {

QByteArray objectNumber(QPDFObjGen id)
{
    return QByteArray::number(id.getObj()) + ' ' + QByteArray::number(id.getGen());
}

// Big-endian, `width` bytes.
QByteArray bigEndian(qint64 value, int width)
{
    QByteArray bytes(width, '\0');
    for (int i = width - 1; i >= 0; --i, value >>= 8)
        bytes[i] = static_cast<char>(value & 0xff);
    return bytes;
}

} // namespace

IncrementalUpdate::IncrementalUpdate(const PdfDocument &document)
    : m_document(document), m_bytes("\n"), m_nextObject(document.nextObjectNumber())
{
}

qsizetype IncrementalUpdate::addObject(QPDFObjGen id, const QByteArray &body)
{
    m_entries.append({id, m_document.input().size() + m_bytes.size()});
    m_bytes += objectNumber(id) + " obj\n";
    const qsizetype bodyStart = m_bytes.size();
    m_bytes += body + "\nendobj\n";
    return bodyStart;
}

void IncrementalUpdate::addStream(QPDFObjGen id, const QByteArray &entries, const QByteArray &data)
{
    addObject(id, "<< " + entries + " /Length " + QByteArray::number(data.size()) + " >>\nstream\n" + data +
                      "\nendstream");
}

QByteArray IncrementalUpdate::finish()
{
    std::sort(m_entries.begin(), m_entries.end(),
              [](const Entry &a, const Entry &b) { return a.id.getObj() < b.id.getObj(); });
    const qint64 sectionOffset = m_document.input().size() + m_bytes.size();
    if (m_document.lastXref().isStream)
        writeStreamSection(sectionOffset);
    else
        writeClassicSection();
    return m_bytes + "startxref\n" + QByteArray::number(sectionOffset) + "\n%%EOF\n";
}

// The subsections: runs of consecutive object numbers, as (first number, length).
QList<std::pair<int, int>> IncrementalUpdate::runs() const
{
    QList<std::pair<int, int>> runs;
    for (const Entry &entry : m_entries) {
        if (!runs.isEmpty() && runs.last().first + runs.last().second == entry.id.getObj())
            ++runs.last().second;
        else
            runs.append({entry.id.getObj(), 1});
    }
    return runs;
}

QByteArray IncrementalUpdate::trailerEntries() const
{
    QPDFObjectHandle trailer = m_document.qpdf().getTrailer();
    QByteArray entries = "/Size " + QByteArray::number(m_nextObject);
    for (const char *key : {"/Root", "/Info", "/ID"})
        if (trailer.hasKey(key))
            entries += ' ' + QByteArray(key) + ' ' + QByteArray::fromStdString(trailer.getKey(key).unparse());
    if (!trailer.hasKey("/ID")) {
        const QByteArray id = QCryptographicHash::hash(m_bytes, QCryptographicHash::Md5).toHex();
        entries += " /ID [<" + id + "> <" + id + ">]";
    }
    return entries + " /Prev " + QByteArray::number(m_document.lastXref().offset);
}

void IncrementalUpdate::writeClassicSection()
{
    m_bytes += "xref\n";
    qsizetype entry = 0;
    for (const auto &[first, length] : runs()) {
        m_bytes += QByteArray::number(first) + ' ' + QByteArray::number(length) + '\n';
        for (int i = 0; i < length; ++i, ++entry)
            m_bytes += QByteArray::number(m_entries[entry].offset).rightJustified(10, '0') + ' ' +
                       QByteArray::number(m_entries[entry].id.getGen()).rightJustified(5, '0') + " n\r\n";
    }
    m_bytes += "trailer\n<< " + trailerEntries() + " >>\n";
}

// The stream lists itself too; its entries are written unfiltered, which every reader takes.
void IncrementalUpdate::writeStreamSection(qint64 offset)
{
    const QPDFObjGen self = reserve();
    m_entries.append({self, offset});
    const int width = offset > 0xffffffffLL ? 8 : 4;
    QByteArray data;
    for (const Entry &entry : m_entries)
        data += '\x01' + bigEndian(entry.offset, width) + bigEndian(entry.id.getGen(), 2);
    QByteArray index;
    for (const auto &[first, length] : runs())
        index += ' ' + QByteArray::number(first) + ' ' + QByteArray::number(length);
    m_bytes += objectNumber(self) + " obj\n<< /Type /XRef /W [1 " + QByteArray::number(width) +
               " 2] /Index [" + index.mid(1) + "] " + trailerEntries() + " /Length " +
               QByteArray::number(data.size()) + " >>\nstream\n" + data + "\nendstream\nendobj\n";
}
