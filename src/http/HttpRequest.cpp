#include "HttpRequest.h"

#include "HttpCookie.h"
#include "MultipartParser.h"
#include "logging/LogStatement.h"

#include <QAbstractSocket>
#include <QIODevice>
#include <algorithm>

namespace {
// Multipart data is read and parsed in blocks of at most this size.
constexpr qint64 kMultipartBlockSize = 65536;

// At most maxBytes bytes, stopping after a line feed. QIODevice::readLine(qint64) takes one
// byte less than asked on some Qt versions, so the documented char* form is used.
QByteArray readBoundedLine(QIODevice &device, qint64 maxBytes)
{
    const qint64 limit = std::min(maxBytes, std::max<qint64>(device.bytesAvailable(), 1));
    QByteArray line(limit + 1, Qt::Uninitialized);
    const qint64 count = device.readLine(line.data(), line.size());
    line.truncate(std::max<qint64>(count, 0));
    return line;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Not a number, or a negative one, declares no body.
qint64 parseContentLength(const QByteArray &text)
{
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok);
    return ok && value > 0 ? value : 0;
}
} // namespace

HttpRequest::HttpRequest(qint32 maxRequestSize, qint32 maxMultiPartSize)
    : m_iMaxSize(maxRequestSize), m_iMaxMultiPartSize(maxMultiPartSize)
{
}

HttpRequest::~HttpRequest() = default;

void HttpRequest::receive(QAbstractSocket &socket)
{
    receive(socket, socket.peerAddress());
}

void HttpRequest::receive(QIODevice &device, const QHostAddress &peer)
{
    while (!isFinished() && device.bytesAvailable() > 0) {
        receiveStep(device, peer);
        checkSize();
        if (m_eStatus == Complete) {
            decodeParameters();
            extractCookies();
        }
    }
}

void HttpRequest::receiveStep(QIODevice &device, const QHostAddress &peer)
{
    switch (m_eStatus) {
    case WaitingForRequestLine:
        readRequestLine(device, peer);
        break;
    case WaitingForHeaders:
        readHeader(device);
        break;
    case WaitingForBody:
        if (m_oBoundary.isEmpty())
            readBody(device);
        else
            readMultipartBody(device);
        break;
    case Complete:
    case Aborted:
        break;
    }
}

bool HttpRequest::readLine(QIODevice &device, QByteArray &line)
{
    // One byte beyond the budget tells a line that overflows from one that just fits.
    const qint64 budget = qint64(m_iMaxSize) - m_iCurrentSize + 1;
    if (budget < 1)
        return false;
    const QByteArray chunk = readBoundedLine(device, budget);
    m_iCurrentSize += chunk.size();
    m_oLineBuffer += chunk;
    // A carriage return alone may be the first half of a CRLF still in flight, so only
    // the line feed ends a line; that keeps slow senders parsed like fast ones.
    if (!m_oLineBuffer.contains('\n'))
        return false;
    line = m_oLineBuffer.trimmed();
    m_oLineBuffer.clear();
    return true;
}

void HttpRequest::readRequestLine(QIODevice &device, const QHostAddress &peer)
{
    QByteArray line;
    if (!readLine(device, line) || line.isEmpty())
        return;
    VYR_LOG_SERVER(Debug) << "HttpRequest: from " << peer.toString() << ": " << line;
    const QList<QByteArray> pieces = line.split(' ');
    if (pieces.size() != 3 || !pieces.at(2).contains("HTTP")) {
        VYR_LOG_SERVER(Warning) << "HttpRequest: received broken HTTP request, invalid first line";
        m_eStatus = Aborted;
        return;
    }
    m_oMethod = pieces.at(0).trimmed();
    m_oPath = pieces.at(1);
    m_oVersion = pieces.at(2);
    m_oPeerAddress = peer;
    m_eStatus = WaitingForHeaders;
}

void HttpRequest::readHeader(QIODevice &device)
{
    QByteArray line;
    if (!readLine(device, line))
        return;
    if (line.isEmpty())
        finishHeaders();
    else
        addHeaderLine(line);
}

void HttpRequest::addHeaderLine(const QByteArray &line)
{
    const qsizetype colon = line.indexOf(':');
    if (colon > 0) {
        m_oCurrentHeader = line.left(colon).toLower();
        m_oHeaders.insert(m_oCurrentHeader, line.mid(colon + 1).trimmed());
        m_bCurrentHeaderContinued = false;
        return;
    }
    const auto latest = m_oHeaders.find(m_oCurrentHeader);
    if (latest == m_oHeaders.end())
        return;
    const QByteArray folded = latest.value() + ' ' + line;
    if (m_bCurrentHeaderContinued)
        latest.value() = folded;
    else
        m_oHeaders.insert(m_oCurrentHeader, folded);
    m_bCurrentHeaderContinued = true;
}

void HttpRequest::finishHeaders()
{
    const QByteArray contentType = header("content-type");
    const qsizetype marker = contentType.indexOf("boundary=");
    if (contentType.startsWith("multipart/form-data") && marker >= 0) {
        m_oBoundary = contentType.mid(marker + 9);
        if (m_oBoundary.size() >= 2 && m_oBoundary.startsWith('"') && m_oBoundary.endsWith('"'))
            m_oBoundary = m_oBoundary.mid(1, m_oBoundary.size() - 2);
    }
    if (m_oHeaders.contains("content-length"))
        m_iExpectedBodySize = parseContentLength(header("content-length"));

    if (m_iExpectedBodySize == 0) {
        m_eStatus = Complete;
    } else if (m_oBoundary.isEmpty() && m_iCurrentSize + m_iExpectedBodySize > m_iMaxSize) {
        VYR_LOG_SERVER(Warning) << "HttpRequest: expected body is too large";
        m_eStatus = Aborted;
    } else if (!m_oBoundary.isEmpty() && m_iExpectedBodySize > m_iMaxMultiPartSize) {
        VYR_LOG_SERVER(Warning) << "HttpRequest: expected multipart body is too large";
        m_eStatus = Aborted;
    } else {
        m_eStatus = WaitingForBody;
    }
}

void HttpRequest::readBody(QIODevice &device)
{
    const qint64 missing = m_iExpectedBodySize - m_oBody.size();
    const QByteArray chunk = device.read(std::max<qint64>(missing, 0));
    m_iCurrentSize += chunk.size();
    m_oBody += chunk;
    if (m_oBody.size() >= m_iExpectedBodySize)
        m_eStatus = Complete;
}

void HttpRequest::readMultipartBody(QIODevice &device)
{
    if (!m_pMultipart) {
        VYR_LOG_SERVER(Debug) << "HttpRequest: parsing multipart body";
        m_pMultipart = std::make_unique<MultipartParser>(m_oBoundary);
    }
    const qint64 wanted = std::min(m_iExpectedBodySize - m_iMultipartReceived, kMultipartBlockSize);
    m_iMultipartReceived += m_pMultipart->read(device, wanted);
    if (m_iMultipartReceived >= m_iMaxMultiPartSize) {
        VYR_LOG_SERVER(Warning) << "HttpRequest: received too many multipart bytes";
        m_pMultipart.reset(); // its upload files go now, not when the connection lets go of us
        m_eStatus = Aborted;
    } else if (m_iMultipartReceived >= m_iExpectedBodySize) {
        takeMultipartResults();
        m_eStatus = Complete;
    }
}

// Fields and uploads become the request's only once the whole body is in, so a request
// refused halfway holds none of them.
void HttpRequest::takeMultipartResults()
{
    m_pMultipart->finish();
    m_iCurrentSize += m_pMultipart->fieldBytes();
    for (const auto &[name, value] : m_pMultipart->parameters())
        m_oParameters.insert(name, value);
    m_oUploadedFiles = m_pMultipart->takeUploads();
    m_pMultipart.reset();
}

void HttpRequest::checkSize()
{
    const qint64 limit = m_oBoundary.isEmpty() ? m_iMaxSize : m_iMaxMultiPartSize;
    if (m_eStatus != Aborted && m_iCurrentSize > limit) {
        VYR_LOG_SERVER(Warning) << "HttpRequest: received too many bytes";
        m_eStatus = Aborted;
    }
}

void HttpRequest::decodeParameters()
{
    QByteArray raw;
    const qsizetype question = m_oPath.indexOf('?');
    if (question >= 0) {
        raw = m_oPath.mid(question + 1);
        m_oPath.truncate(question);
    }
    const QByteArray contentType = header("content-type");
    if (!m_oBody.isEmpty() &&
        (contentType.isEmpty() || contentType.startsWith("application/x-www-form-urlencoded"))) {
        if (!raw.isEmpty())
            raw += '&';
        raw += m_oBody;
    }
    for (const QByteArray &piece : raw.split('&')) {
        const qsizetype equals = piece.indexOf('=');
        if (equals >= 0)
            m_oParameters.insert(percentDecode(piece.left(equals).trimmed()),
                                 percentDecode(piece.mid(equals + 1).trimmed()));
        else if (!piece.isEmpty())
            m_oParameters.insert(percentDecode(piece), QByteArray());
    }
}

void HttpRequest::extractCookies()
{
    // QMultiMap hands out the newest value first; oldest first lets a later header win.
    const QList<QByteArray> values = m_oHeaders.values("cookie");
    for (auto value = values.crbegin(); value != values.crend(); ++value) {
        for (const QByteArray &piece : HttpCookie::splitAttributes(*value)) {
            const qsizetype equals = piece.indexOf('=');
            if (equals > 0)
                m_oCookies.insert(piece.left(equals).trimmed(), piece.mid(equals + 1).trimmed());
            else
                m_oCookies.insert(piece.trimmed(), QByteArray());
        }
    }
    m_oHeaders.remove("cookie");
}

QByteArray HttpRequest::path() const
{
    return percentDecode(m_oPath);
}

QByteArray HttpRequest::header(const QByteArray &name) const
{
    return m_oHeaders.value(name.toLower());
}

QByteArray HttpRequest::parameter(const QByteArray &name) const
{
    return m_oParameters.value(name);
}

QByteArray HttpRequest::cookie(const QByteArray &name) const
{
    return m_oCookies.value(name);
}

const UploadedFile *HttpRequest::uploadedFile(const QByteArray &fieldName) const
{
    const auto it = m_oUploadedFiles.find(fieldName);
    return it != m_oUploadedFiles.end() ? it->second.get() : nullptr;
}

UploadedFiles HttpRequest::uploadedFiles() const
{
    UploadedFiles files;
    for (const auto &entry : m_oUploadedFiles)
        files.push_back(entry.second);
    return files;
}

QByteArray HttpRequest::percentDecode(const QByteArray &source)
{
    QByteArray buffer = source;
    buffer.replace('+', ' ');
    qsizetype percent = buffer.indexOf('%');
    while (percent >= 0) {
        if (percent + 2 < buffer.size()) {
            const int high = hexValue(buffer.at(percent + 1));
            const int low = hexValue(buffer.at(percent + 2));
            if (high >= 0 && low >= 0)
                buffer.replace(percent, 3, QByteArray(1, char(high * 16 + low)));
        }
        percent = buffer.indexOf('%', percent + 1);
    }
    return buffer;
}
