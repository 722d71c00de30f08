#include "HttpRequest.h"

#include "HttpCookie.h"
#include "logging/LogStatement.h"
#include "logging/SecretNames.h"

#include <QAbstractSocket>
#include <QDir>
#include <QIODevice>
#include <QTemporaryFile>
#include <algorithm>

namespace {
// Multipart data is copied to disk in blocks of this size, and its lines are read at most this long.
constexpr qint64 kMultipartBlockSize = 65536;

// One recognisable name for everything a request spools, so a leftover is easy to find.
QString uploadTemplate()
{
    return QDir::tempPath() + QStringLiteral("/vyr-upload-XXXXXX");
}

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

bool HttpRequest::openMultipartFile()
{
    if (!m_pTempFile)
        m_pTempFile = std::make_unique<QTemporaryFile>(uploadTemplate());
    if (m_pTempFile->isOpen() || m_pTempFile->open())
        return true;
    VYR_LOG_SERVER(Critical) << "HttpRequest: Error writing temp file for multipart body";
    return false;
}

void HttpRequest::readMultipartBody(QIODevice &device)
{
    if (!openMultipartFile()) {
        // Without a file the body cannot be kept; drain it so the connection is not stuck.
        device.read(std::min(device.bytesAvailable(), kMultipartBlockSize));
        return;
    }
    qint64 fileSize = m_pTempFile->size();
    const qint64 wanted = std::min(m_iExpectedBodySize - fileSize, kMultipartBlockSize);
    const QByteArray block = device.read(std::max<qint64>(wanted, 0));
    const qint64 written = m_pTempFile->write(block);
    fileSize += std::max<qint64>(written, 0);
    if (fileSize >= m_iMaxMultiPartSize) {
        VYR_LOG_SERVER(Warning) << "HttpRequest: received too many multipart bytes";
        m_eStatus = Aborted;
    } else if (fileSize >= m_iExpectedBodySize) {
        if (!m_pTempFile->flush())
            VYR_LOG_SERVER(Critical) << "HttpRequest: Error writing temp file for multipart body";
        parseMultipartFile();
        m_pTempFile->close();
        m_eStatus = Complete;
    }
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

void HttpRequest::parseMultipartFile()
{
    VYR_LOG_SERVER(Debug) << "HttpRequest: parsing multipart temp file";
    m_iSpoolSize = m_pTempFile->size();
    m_pTempFile->seek(0);
    bool finished = false;
    while (!finished && spoolHasMore()) {
        QByteArray fieldName;
        QByteArray fileName;
        if (readPartHeaders(fieldName, fileName))
            finished = readPartData(fieldName, fileName);
    }
    if (m_pTempFile->error() != QFileDevice::NoError)
        VYR_LOG_SERVER(Critical) << "HttpRequest: cannot read temp file, " << m_pTempFile->errorString();
}

// The file's size is known once: asking the file (atEnd, bytesAvailable) costs a system call per
// line, which for an upload of many short lines took longer than its transfer.
bool HttpRequest::spoolHasMore() const
{
    return m_pTempFile->pos() < m_iSpoolSize && m_pTempFile->error() == QFileDevice::NoError;
}

QByteArray HttpRequest::readSpoolLine()
{
    const qint64 limit = std::min(kMultipartBlockSize, m_iSpoolSize - m_pTempFile->pos());
    m_oSpoolLine.resize(std::max<qint64>(limit, 1) + 1);
    const qint64 count = m_pTempFile->readLine(m_oSpoolLine.data(), m_oSpoolLine.size());
    return m_oSpoolLine.left(std::max<qint64>(count, 0));
}

namespace {
// The text between marker and the next double quote; target stays as it is unless both are found.
void takeQuoted(const QByteArray &line, const char *marker, QByteArray &target)
{
    const auto markerLength = qsizetype(qstrlen(marker));
    const qsizetype start = line.indexOf(marker);
    if (start < 0)
        return;
    const qsizetype end = line.indexOf('"', start + markerLength);
    if (end >= 0)
        target = line.mid(start + markerLength, end - start - markerLength);
}
} // namespace

bool HttpRequest::readPartHeaders(QByteArray &fieldName, QByteArray &fileName)
{
    while (spoolHasMore()) {
        const QByteArray line = readSpoolLine().trimmed();
        if (line.isEmpty())
            return true;
        if (!line.startsWith("Content-Disposition:"))
            continue;
        if (line.contains("form-data")) {
            takeQuoted(line, " name=\"", fieldName);
            takeQuoted(line, " filename=\"", fileName);
        } else {
            VYR_LOG_SERVER(Debug) << "HttpRequest: ignoring unsupported content part " << line;
        }
    }
    return false;
}

// Read in blocks and searched for the next delimiter line: an upload of many short lines read
// and written a line at a time took longer than its transfer.
bool HttpRequest::readPartData(const QByteArray &fieldName, const QByteArray &fileName)
{
    const QByteArray delimiter = "--" + m_oBoundary;
    const QByteArray marker = '\n' + delimiter; // a delimiter counts at the start of a line only
    const bool isField = !fieldName.isEmpty() && fileName.isEmpty();
    const bool isFile = !fieldName.isEmpty() && !fileName.isEmpty();
    QByteArray value;
    std::unique_ptr<QTemporaryFile> upload;
    const auto take = [&](QByteArrayView bytes) {
        if (isField) {
            m_iCurrentSize += bytes.size();
            value += bytes;
        } else if (isFile && !bytes.isEmpty()) {
            writeUploadBytes(upload, bytes);
        }
    };
    // Its first byte is taken already, or is the line break that starts the part's first line.
    QByteArray window = "\n";
    qint64 windowStart = m_pTempFile->pos() - 1;
    while (true) {
        const qsizetype found = window.indexOf(marker);
        const qsizetype end =
            found >= 0 ? found + 1 : std::max<qsizetype>(1, window.size() - marker.size() + 1);
        take(QByteArrayView(window).sliced(1, end - 1));
        if (found >= 0) {
            m_pTempFile->seek(windowStart + end);
            if (isField)
                storeField(fieldName, value);
            else if (isFile)
                storeUpload(fieldName, fileName, std::move(upload));
            return readSpoolLine().mid(delimiter.size()).startsWith("--");
        }
        if (!spoolHasMore())
            break;
        // The last byte taken stays as the line break a delimiter may follow.
        windowStart += end - 1;
        window = window.sliced(end - 1) +
                 m_pTempFile->read(std::min(kMultipartBlockSize, m_iSpoolSize - m_pTempFile->pos()));
    }
    VYR_LOG_SERVER(Warning) << "HttpRequest: format error, unexpected end of file data";
    return true;
}

void HttpRequest::storeField(const QByteArray &fieldName, QByteArray value)
{
    // The line break before the boundary belongs to the delimiter, not to the value.
    value.chop(2);
    m_oParameters.insert(fieldName, value);
    VYR_LOG_SERVER(Debug) << "HttpRequest: set parameter " << fieldName << "="
                          << loggableValue(fieldName, value);
}

void HttpRequest::writeUploadBytes(std::unique_ptr<QTemporaryFile> &upload, QByteArrayView bytes)
{
    if (!upload) {
        upload = std::make_unique<QTemporaryFile>(uploadTemplate());
        if (!upload->open())
            VYR_LOG_SERVER(Critical) << "HttpRequest: error writing temp file, " << upload->errorString();
    }
    if (upload->isOpen() && upload->write(bytes.data(), bytes.size()) < 0)
        VYR_LOG_SERVER(Critical) << "HttpRequest: error writing temp file, " << upload->errorString();
}

void HttpRequest::storeUpload(const QByteArray &fieldName, const QByteArray &fileName,
                              std::unique_ptr<QTemporaryFile> upload)
{
    if (!upload) {
        VYR_LOG_SERVER(Warning) << "HttpRequest: format error, unexpected end of file data";
        return;
    }
    // As with fields, the last line break belongs to the delimiter.
    upload->resize(std::max<qint64>(upload->size() - 2, 0));
    upload->flush();
    VYR_LOG_SERVER(Debug) << "HttpRequest: uploaded file size is " << upload->size();
    // From here the file is deleted with the last holder, which may be a job that outlives
    // the request and runs on another thread, so no QObject stays attached to it.
    upload->setAutoRemove(false);
    auto kept = std::make_shared<const UploadedFile>(upload->fileName(), fieldName, fileName);
    upload.reset();
    m_oParameters.insert(fieldName, fileName);
    m_oUploadedFiles[fieldName] = std::move(kept);
}
