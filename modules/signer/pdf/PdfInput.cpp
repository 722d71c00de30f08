#include "PdfInput.h"

#include "core/SignerError.h"

#include <QFile>

namespace {
constexpr qint64 kPiece = 1 << 20;
}

PdfInput PdfInput::fromFile(const QString &path)
{
    PdfInput input;
    input.m_path = path;
    input.m_file = std::make_shared<QFile>(path);
    if (!input.m_file->open(QIODevice::ReadOnly))
        throw SignerError(SignerErrorCode::BadInput, QStringLiteral("The document cannot be read."));
    input.m_size = input.m_file->size();
    return input;
}

PdfInput PdfInput::fromBytes(const QByteArray &bytes)
{
    PdfInput input;
    input.m_bytes = bytes;
    input.m_size = bytes.size();
    return input;
}

PdfInput PdfInput::reopened() const
{
    return m_file ? fromFile(m_path) : fromBytes(m_bytes);
}

QByteArray PdfInput::read(qint64 offset, qint64 length) const
{
    if (offset < 0 || offset >= m_size || length <= 0)
        return {};
    if (!m_file)
        return m_bytes.mid(offset, length);
    if (!m_file->seek(offset))
        return {};
    return m_file->read(std::min(length, m_size - offset));
}

void PdfInput::forEachPiece(const std::function<void(QByteArrayView)> &consume) const
{
    QByteArray piece;
    for (qint64 offset = 0; offset < m_size; offset += kPiece) {
        const qint64 length = std::min(kPiece, m_size - offset);
        if (!m_file) {
            consume(QByteArrayView(m_bytes).sliced(offset, length));
            continue;
        }
        // One buffer for every piece: a fresh one each time costs its pages' first touch.
        piece.resize(length);
        if (!m_file->seek(offset) || m_file->read(piece.data(), length) != length)
            throw SignerError(SignerErrorCode::StoreError,
                              QStringLiteral("The document could not be read to its end."));
        consume(piece);
    }
}

void PdfInput::startDigest() const
{
    if (m_digest->valid())
        return;
    *m_digest = std::async(std::launch::async, [input = reopened()] {
                    Sha256 hash;
                    input.forEachPiece([&hash](QByteArrayView piece) { hash.add(piece); });
                    return hash;
                }).share();
}

Sha256 PdfInput::digestOfAll() const
{
    startDigest();
    return m_digest->get().copy();
}
