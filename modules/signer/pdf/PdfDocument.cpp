#include "PdfDocument.h"

#include "PdfReadError.h"
#include "core/SignerLog.h"

#include <cctype>
#include <qpdf/QPDF.hh>

namespace {

// The largest object number a PDF may use; beyond it a reader's tables overflow.
constexpr int kMaxObjectNumber = 8388607;
constexpr qint64 kTailWindow = 1024;

SignerError badInput(const char *message)
{
    return {SignerErrorCode::BadInput, QString::fromLatin1(message)};
}

// The digits that follow `from` after white space.
QByteArray numberAfter(const QByteArray &text, qsizetype from)
{
    while (from < text.size() && std::isspace(static_cast<unsigned char>(text[from])))
        ++from;
    qsizetype end = from;
    while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])))
        ++end;
    return text.mid(from, end - from);
}

} // namespace

PdfDocument::PdfDocument(PdfInput input) : m_input(std::move(input)), m_qpdf(std::make_unique<QPDF>())
{
    // Readers count a file's offsets from its header; one that does not start the file would
    // shift every offset the update writes.
    if (!m_input.read(0, 5).startsWith("%PDF-"))
        throw badInput("The document is not a PDF: it does not begin with a PDF header.");
    readingPdf([this] { open(); });
    m_tail = readTail();
}

PdfDocument::~PdfDocument() = default;

void PdfDocument::open()
{
    m_qpdf->setSuppressWarnings(true);
    m_qpdf->setAttemptRecovery(false);
    if (m_input.isFile())
        m_qpdf->processFile(m_input.path().toLocal8Bit().constData());
    else
        m_qpdf->processMemoryFile("document", m_input.bytes().constData(),
                                  static_cast<size_t>(m_input.bytes().size()));
    if (m_qpdf->isEncrypted())
        throw badInput("The PDF is encrypted; it cannot be signed.");
    resolveEveryObject();
    if (!m_qpdf->getRoot().isIndirect())
        throw badInput("The PDF's catalog is not an object of its own.");
    m_qpdf->getAllPages();
    // What qpdf overlooked (a stream's wrong length, a stray token) readers overlook as well.
    if (m_qpdf->anyWarnings())
        qCInfo(lcSigner) << "PDF read with" << m_qpdf->getWarnings().size() << "warnings";
}

void PdfDocument::resolveEveryObject()
{
    long long largest = 0;
    for (const auto &[id, entry] : m_qpdf->getXRefTable()) {
        largest = std::max<long long>(largest, id.getObj());
        if (entry.getType() != 0)
            m_qpdf->getObject(id).getTypeCode();
    }
    QPDFObjectHandle size = m_qpdf->getTrailer().getKey("/Size");
    const long long declared = size.isInteger() ? size.getIntValue() : 0;
    const long long next = std::max(declared, largest + 1);
    if (next > kMaxObjectNumber)
        throw badInput("The PDF has more objects than a PDF may have.");
    m_nextObject = static_cast<int>(next);
}

XrefTail PdfDocument::readTail() const
{
    const qint64 start = std::max<qint64>(0, m_input.size() - kTailWindow);
    const QByteArray tail = m_input.read(start, kTailWindow);
    const qsizetype keyword = tail.lastIndexOf("startxref");
    bool isNumber = false;
    const qint64 offset = keyword < 0 ? -1 : numberAfter(tail, keyword + 9).toLongLong(&isNumber);
    if (!isNumber || offset < 0 || offset >= m_input.size())
        throw badInput("The PDF does not say where its cross-reference table is.");
    return {offset, !m_input.read(offset, 32).trimmed().startsWith("xref")};
}

int PdfDocument::pageCount() const
{
    return static_cast<int>(m_qpdf->getAllPages().size());
}

QPDFObjectHandle PdfDocument::page(int number) const
{
    if (number < 1 || number > pageCount())
        throw SignerError(SignerErrorCode::BadInput,
                          QStringLiteral("The PDF has no page %1; it has %2.").arg(number).arg(pageCount()));
    const QPDFObjectHandle &page = m_qpdf->getAllPages()[static_cast<size_t>(number - 1)];
    // qpdf copies a page that the tree lists twice; such a copy has no object in the bytes.
    if (!page.isIndirect() || m_qpdf->getXRefTable().count(page.getObjGen()) == 0)
        throw badInput("The PDF's page tree cannot be updated for this page.");
    return page;
}
