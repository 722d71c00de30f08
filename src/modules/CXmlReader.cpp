#include "CXmlReader.h"

#include "logging/LogStatement.h"

CXmlReader::CXmlReader()
{
    VYR_LOG_SERVER(Debug) << "Reader created";
}

CXmlReader::~CXmlReader()
{
    VYR_LOG_SERVER(Debug) << "Reader destroyed";
}

bool CXmlReader::ReadFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        VYR_LOG_SERVER(Error) << "File with commands specification cannot be opened";
        return false;
    }
    m_oReader.setDevice(&file);
    VYR_LOG_SERVER(Debug) << "Start parsing";
    m_oReader.readNext();
    while (!m_oReader.atEnd()) {
        if (!m_oReader.isStartElement())
            m_oReader.readNext();
        else if (m_oReader.name() == QLatin1String("commands"))
            ReadCommandsElement();
        else
            m_oReader.raiseError(QStringLiteral("Not commands file"));
    }
    file.close();
    const bool parsed = !m_oReader.hasError() && file.error() == QFileDevice::NoError;
    if (m_oReader.hasError())
        VYR_LOG_SERVER(Error) << "Failed to parse file: " << m_oReader.errorString();
    else if (file.error() != QFileDevice::NoError)
        VYR_LOG_SERVER(Error) << "Cannot read file: " << file.errorString();
    else
        VYR_LOG_SERVER(Debug) << "File parsed successfully";
    // The reader must not outlive its device; the next ReadFile attaches a new one.
    m_oReader.setDevice(nullptr);
    return parsed;
}

// The loop every container element shares: an end element closes it, a start element is
// handed to dispatch (which consumes it whole), anything else is stepped over.
template <class Dispatch> void CXmlReader::readChildren(Dispatch dispatch)
{
    m_oReader.readNext();
    while (!m_oReader.atEnd()) {
        if (m_oReader.isEndElement()) {
            m_oReader.readNext();
            return;
        }
        if (m_oReader.isStartElement())
            dispatch(m_oReader.name());
        else
            m_oReader.readNext();
    }
}

void CXmlReader::ReadCommandsElement()
{
    VYR_LOG_SERVER(Debug) << "Parse commands element";
    readChildren([this](QStringView name) {
        if (name == QLatin1String("command"))
            ReadCommandElement();
        else
            SkipUnknownElement();
    });
}

void CXmlReader::ReadCommandElement()
{
    VYR_LOG_SERVER(Debug) << "Parse command element";
    const QXmlStreamAttributes attributes = m_oReader.attributes();
    const QString name = attributes.value(QLatin1String("name")).toString();
    const QString method = attributes.value(QLatin1String("method")).toString();
    VYR_LOG_SERVER(Debug) << "name=" << name << ", method=" << method;
    m_oCommands.insert(name, method);
    readChildren([this, &name](QStringView element) {
        if (element == QLatin1String("request"))
            ReadRequestElement(name);
        else if (element == QLatin1String("response"))
            ReadResponseElement(name);
        else
            SkipUnknownElement();
    });
}

void CXmlReader::ReadRequestElement(const QString &command)
{
    VYR_LOG_SERVER(Debug) << "Parse request element";
    readParamsElement(command, true);
}

void CXmlReader::ReadResponseElement(const QString &command)
{
    VYR_LOG_SERVER(Debug) << "Parse response element";
    readParamsElement(command, false);
}

void CXmlReader::readParamsElement(const QString &command, bool isRequest)
{
    readChildren([this, &command, isRequest](QStringView element) {
        if (element == QLatin1String("param"))
            ReadParamElement(command, isRequest);
        else
            SkipUnknownElement();
    });
}

void CXmlReader::ReadParamElement(const QString &command, bool isRequest)
{
    VYR_LOG_SERVER(Debug) << "Parse param element";
    const QString text = m_oReader.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
    VYR_LOG_SERVER(Debug) << "param=" << text;
    if (m_oReader.isEndElement())
        m_oReader.readNext();
    (isRequest ? m_oRequestParams : m_oResponseParams).insert(command, text);
}

void CXmlReader::SkipUnknownElement()
{
    VYR_LOG_SERVER(Debug) << "Parse unknown element";
    // Skipping recurses per nesting level; a hostile file must not exhaust the stack.
    if (m_iSkipDepth >= kMaxSkipDepth) {
        m_oReader.raiseError(QStringLiteral("Elements nested too deeply"));
        return;
    }
    ++m_iSkipDepth;
    readChildren([this](QStringView) { SkipUnknownElement(); });
    --m_iSkipDepth;
}
