#include "MultipartParser.h"

#include "logging/LogStatement.h"
#include "logging/SecretNames.h"

#include <QDir>
#include <QIODevice>
#include <QTemporaryFile>
#include <algorithm>
#include <cstring>

namespace {
// Part header and delimiter lines longer than this are taken in pieces of this length.
constexpr qsizetype kMaxLineLength = 65536;

// One recognisable name for every upload, so a leftover is easy to find.
QString uploadTemplate()
{
    return QDir::tempPath() + QStringLiteral("/vyr-upload-XXXXXX");
}

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

MultipartParser::MultipartParser(const QByteArray &boundary)
    : m_oDelimiter("--" + boundary), m_oMarker('\n' + m_oDelimiter)
{
}

MultipartParser::~MultipartParser() = default;

qint64 MultipartParser::read(QIODevice &device, qint64 maxBytes)
{
    // Read behind what an earlier block left, so a block is copied once, by the device.
    const qsizetype kept = m_oBuffer.size();
    m_oBuffer.resize(kept + std::max<qint64>(maxBytes, 0));
    const qint64 count = std::max<qint64>(device.read(m_oBuffer.data() + kept, maxBytes), 0);
    m_oBuffer.resize(kept + count);
    parse();
    return count;
}

void MultipartParser::parse()
{
    qsizetype pos = 0;
    bool more = true;
    while (more && pos < m_oBuffer.size()) {
        switch (m_eState) {
        case State::PartHeaders:
            more = takeHeaderLine(pos);
            break;
        case State::PartData:
            more = takePartData(pos);
            break;
        case State::DelimiterLine:
            more = takeDelimiterLine(pos);
            break;
        case State::Done:
            pos = m_oBuffer.size();
            break;
        }
    }
    // What stays is at most a delimiter's length: lines wait in m_oLine, not here.
    const qsizetype rest = m_oBuffer.size() - pos;
    std::memmove(m_oBuffer.data(), m_oBuffer.constData() + pos, size_t(rest));
    m_oBuffer.resize(rest);
}

// Up to and including the next line feed, or until the line is as long as a line may be.
bool MultipartParser::takeLine(qsizetype &pos)
{
    const qsizetype span = std::min(kMaxLineLength - m_oLine.size(), m_oBuffer.size() - pos);
    const char *start = m_oBuffer.constData() + pos;
    const auto *lineFeed = static_cast<const char *>(std::memchr(start, '\n', size_t(span)));
    const qsizetype taken = lineFeed != nullptr ? lineFeed - start + 1 : span;
    m_oLine.append(start, taken);
    pos += taken;
    return lineFeed != nullptr || m_oLine.size() == kMaxLineLength;
}

bool MultipartParser::takeHeaderLine(qsizetype &pos)
{
    if (!takeLine(pos))
        return false;
    endHeaderLine();
    // The byte before the data is consumed already; as a line break it lets a delimiter
    // right at the start of the data end an empty part.
    if (m_eState == State::PartData)
        m_oBuffer[--pos] = '\n';
    return true;
}

void MultipartParser::endHeaderLine()
{
    const QByteArray line = m_oLine.trimmed();
    m_oLine.resize(0);
    if (line.isEmpty()) {
        m_eState = State::PartData;
    } else if (!line.startsWith("Content-Disposition:")) {
        return;
    } else if (line.contains("form-data")) {
        takeQuoted(line, " name=\"", m_oFieldName);
        takeQuoted(line, " filename=\"", m_oFileName);
    } else {
        VYR_LOG_SERVER(Debug) << "HttpRequest: ignoring unsupported content part " << line;
    }
}

// Everything before a delimiter the buffer cannot hold whole yet is part data.
bool MultipartParser::takePartData(qsizetype &pos)
{
    const qsizetype markerSize = m_oMarker.pattern().size();
    const qsizetype found = m_oMarker.indexIn(QByteArrayView(m_oBuffer), pos);
    const qsizetype end = found >= 0 ? found + 1 : std::max(pos + 1, m_oBuffer.size() - markerSize + 1);
    takeBytes(QByteArrayView(m_oBuffer).sliced(pos + 1, end - pos - 1));
    if (found < 0) {
        // The last byte taken stays as the line break a delimiter may follow.
        pos = end - 1;
        return false;
    }
    pos = end;
    endPart();
    m_eState = State::DelimiterLine;
    return true;
}

bool MultipartParser::takeDelimiterLine(qsizetype &pos)
{
    if (!takeLine(pos))
        return false;
    const bool closing = m_oLine.mid(m_oDelimiter.size()).startsWith("--");
    m_oLine.resize(0);
    if (closing) {
        m_eState = State::Done;
    } else {
        startPart();
        m_eState = State::PartHeaders;
    }
    return true;
}

void MultipartParser::finish()
{
    if (m_eState == State::PartHeaders && !m_oLine.isEmpty())
        endHeaderLine();
    if (m_eState == State::PartData)
        VYR_LOG_SERVER(Warning) << "HttpRequest: format error, unexpected end of file data";
    startPart();
    m_eState = State::Done;
}

void MultipartParser::startPart()
{
    m_oFieldName.clear();
    m_oFileName.clear();
    m_oValue.clear();
    m_pUpload.reset();
    m_bUploadFailed = false;
}

// Data of a part without a field name goes nowhere.
void MultipartParser::takeBytes(QByteArrayView bytes)
{
    if (m_oFieldName.isEmpty() || bytes.isEmpty())
        return;
    if (!m_oFileName.isEmpty()) {
        writeUpload(bytes);
        return;
    }
    m_iFieldBytes += bytes.size();
    m_oValue.append(bytes);
}

void MultipartParser::endPart()
{
    if (m_oFieldName.isEmpty())
        return;
    if (m_oFileName.isEmpty())
        storeField();
    else
        storeUpload();
}

void MultipartParser::storeField()
{
    // The line break before the delimiter belongs to the delimiter, not to the value.
    m_oValue.chop(2);
    m_oParameters.append({m_oFieldName, m_oValue});
    VYR_LOG_SERVER(Debug) << "HttpRequest: set parameter " << m_oFieldName << "="
                          << loggableValue(m_oFieldName, m_oValue);
}

// A file that cannot be written is reported once; the rest of its part is still read, so
// the request goes on.
void MultipartParser::writeUpload(QByteArrayView bytes)
{
    if (m_bUploadFailed)
        return;
    if (!m_pUpload) {
        m_pUpload = std::make_unique<QTemporaryFile>(uploadTemplate());
        m_bUploadFailed = !m_pUpload->open();
    }
    if (!m_bUploadFailed)
        m_bUploadFailed = m_pUpload->write(bytes.data(), bytes.size()) < 0;
    if (m_bUploadFailed)
        VYR_LOG_SERVER(Critical) << "HttpRequest: error writing temp file, " << m_pUpload->errorString();
}

// A file that could not be written is not handed over: a module would take what is missing
// from it for the client's document.
void MultipartParser::storeUpload()
{
    if (!m_pUpload) {
        VYR_LOG_SERVER(Warning) << "HttpRequest: format error, unexpected end of file data";
        return;
    }
    if (m_bUploadFailed)
        return;
    // As with fields, the last line break belongs to the delimiter.
    m_pUpload->resize(std::max<qint64>(m_pUpload->size() - 2, 0));
    m_pUpload->flush();
    VYR_LOG_SERVER(Debug) << "HttpRequest: uploaded file size is " << m_pUpload->size();
    // From here the file is deleted with the last holder, which may be a job that outlives
    // the request and runs on another thread, so no QObject stays attached to it.
    m_pUpload->setAutoRemove(false);
    auto kept = std::make_shared<const UploadedFile>(m_pUpload->fileName(), m_oFieldName, m_oFileName);
    m_pUpload.reset();
    m_oParameters.append({m_oFieldName, m_oFileName});
    m_oUploads[m_oFieldName] = std::move(kept);
}
