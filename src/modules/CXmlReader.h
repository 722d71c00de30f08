#pragma once

#include <QFile>
#include <QMap>
#include <QMultiMap>
#include <QString>
#include <QXmlStreamReader>

// Reads a module's command file: which commands it offers, the export that carries each
// one, and the request and response parameter names. The element handlers are virtual so
// that a derived reader can change how any element is read.
//
// <commands>
//   <command name="X" method="Y">
//     <request><param>P</param>...</request>
//     <response><param>R</param>...</response>
//   </command>
// </commands>
class CXmlReader
{
public:
    CXmlReader();
    virtual ~CXmlReader();
    CXmlReader(const CXmlReader &) = delete;
    CXmlReader &operator=(const CXmlReader &) = delete;

    // True only if the file was opened and parsed without error. Entries read before an
    // error stay in the maps.
    bool ReadFile(const QString &path);

    // Command name to export name; a later command of the same name replaces an earlier one.
    const QMap<QString, QString> &getCommands() const { return m_oCommands; }
    // Command name to parameter names; for one command the newest entry comes first.
    const QMultiMap<QString, QString> &getRequestParams() const { return m_oRequestParams; }
    const QMultiMap<QString, QString> &getResponseParams() const { return m_oResponseParams; }

protected:
    virtual void ReadCommandsElement();
    virtual void ReadCommandElement();
    virtual void ReadRequestElement(const QString &command);
    virtual void ReadResponseElement(const QString &command);
    virtual void ReadParamElement(const QString &command, bool isRequest);
    virtual void SkipUnknownElement();

    QXmlStreamReader &reader() { return m_oReader; }

private:
    template <class Dispatch> void readChildren(Dispatch dispatch);
    void readParamsElement(const QString &command, bool isRequest);

    QMap<QString, QString> m_oCommands;
    QMultiMap<QString, QString> m_oRequestParams;
    QMultiMap<QString, QString> m_oResponseParams;
    QXmlStreamReader m_oReader;
    int m_iSkipDepth = 0;
    static constexpr int kMaxSkipDepth = 256;
};
