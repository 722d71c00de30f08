#include "SignedDocumentReply.h"

#include "BackgroundPriority.h"

namespace {
constexpr char kHead[] = R"({"document":")";
constexpr char kTail[] = R"("})";
// Room for an update of this size is made with the document's: most fit, so the text of tens
// of megabytes is not moved when the update is added.
constexpr qint64 kUpdateRoom = qint64{64} * 1024;
} // namespace

SignedDocumentReply::SignedDocumentReply(const PdfInput &document)
    : m_document(std::async(std::launch::async, [input = document.reopened()] {
          yieldToForegroundWork();
          Base64Writer writer(kHead, input.size() + kUpdateRoom);
          input.forEachPiece([&writer](QByteArrayView piece) { writer.add(piece); });
          return writer;
      }))
{
}

SignedDocumentReply::~SignedDocumentReply()
{
    if (m_document.valid())
        m_document.wait();
}

QByteArray SignedDocumentReply::text(QByteArrayView update)
{
    Base64Writer writer = m_document.get();
    writer.add(update);
    return writer.finish(kTail);
}
