// The request parser fed the same stream twice: in chunks whose sizes the input picks, the
// way a slow or hostile client delivers it, and all at once. Both must yield the same
// requests, field by field, and none may grow past its limits. Limits are small so that the
// oversize paths are reached as often as the ordinary ones.
#include "FuzzSupport.h"
#include "http/HttpRequest.h"

#include <QFile>
#include <QIODevice>
#include <algorithm>
#include <fuzzer/FuzzedDataProvider.h>
#include <vector>

namespace {

// A connection whose bytes arrive only when the test hands them over.
class ChunkDevice : public QIODevice
{
public:
    ChunkDevice() { open(QIODevice::ReadOnly); }
    void feed(const QByteArray &bytes) { m_oPending += bytes; }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_oPending.size() + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 count = std::min<qint64>(maxSize, m_oPending.size());
        std::copy_n(m_oPending.constData(), count, data);
        m_oPending.remove(0, count);
        return count;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_oPending;
};

struct Limits
{
    qint32 request;
    qint32 multipart;
};

QByteArray describe(const HttpRequest &request, const Limits &limits)
{
    QByteArray text = QByteArray::number(request.status()) + '\n' + request.method() + '\n' + request.path() +
                      '\n' + request.version() + '\n' + request.body() + '\n';
    if (request.status() == HttpRequest::Complete)
        VYR_FUZZ_CHECK(request.body().size() <= limits.request);
    for (auto it = request.headerMap().cbegin(); it != request.headerMap().cend(); ++it)
        text += "H " + it.key() + ':' + it.value() + '\n';
    for (auto it = request.parameterMap().cbegin(); it != request.parameterMap().cend(); ++it) {
        text += "P " + it.key() + '=' + it.value() + '\n';
        if (const UploadedFile *upload = request.uploadedFile(it.key())) {
            QFile file(upload->path());
            VYR_FUZZ_CHECK(file.open(QIODevice::ReadOnly));
            VYR_FUZZ_CHECK(file.size() <= limits.multipart);
            text += "F " + upload->clientName() + ':' + file.readAll() + '\n';
        }
    }
    for (auto it = request.cookieMap().cbegin(); it != request.cookieMap().cend(); ++it)
        text += "C " + it.key() + '=' + it.value() + '\n';
    return text;
}

// Every request the stream holds, as a connection reads them one after another: a finished
// request hands the remaining bytes to the next, an aborted one ends the connection.
class Connection
{
public:
    explicit Connection(Limits limits) : m_oLimits(limits) {}

    void deliver(const QByteArray &bytes)
    {
        m_oDevice.feed(bytes);
        while (!m_bClosed && m_oDevice.bytesAvailable() > 0) {
            if (!m_pRequest)
                m_pRequest = std::make_unique<HttpRequest>(m_oLimits.request, m_oLimits.multipart);
            m_pRequest->receive(m_oDevice);
            const auto status = m_pRequest->status();
            if (status != HttpRequest::Complete && status != HttpRequest::Aborted)
                return;
            m_oSeen.push_back(describe(*m_pRequest, m_oLimits));
            m_bClosed = status == HttpRequest::Aborted;
            m_pRequest.reset();
        }
    }

    std::vector<QByteArray> finish()
    {
        if (m_pRequest)
            m_oSeen.push_back(describe(*m_pRequest, m_oLimits));
        return m_oSeen;
    }

private:
    Limits m_oLimits;
    ChunkDevice m_oDevice;
    std::unique_ptr<HttpRequest> m_pRequest;
    std::vector<QByteArray> m_oSeen;
    bool m_bClosed = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const Limits limits{input.ConsumeIntegralInRange<qint32>(16, 2048),
                        input.ConsumeIntegralInRange<qint32>(16, 4096)};
    // Chunk sizes come from the input's end, the stream from its start.
    std::vector<QByteArray> chunks;
    QByteArray stream;
    while (input.remaining_bytes() > 0) {
        const auto length = input.ConsumeIntegralInRange<std::size_t>(1, 64);
        chunks.push_back(QByteArray::fromStdString(input.ConsumeBytesAsString(length)));
        stream += chunks.back();
    }
    Connection slow(limits);
    for (const QByteArray &chunk : chunks)
        slow.deliver(chunk);
    Connection fast(limits);
    fast.deliver(stream);
    VYR_FUZZ_CHECK(slow.finish() == fast.finish());
    return 0;
}
