#pragma once

#include "PdfDocument.h"

#include <QByteArray>
#include <QList>
#include <qpdf/QPDFObjGen.hh>

// The bytes appended after a document: new and changed objects, then a cross-reference
// section in the form of the document's last one (a table and trailer, or a stream) whose
// /Prev points back to it, so that every earlier byte, and every signature over them, stays
// as it was. Owned and used by the thread that signs.
class IncrementalUpdate
{
public:
    explicit IncrementalUpdate(const PdfDocument &document);

    // An object number no revision uses yet.
    QPDFObjGen reserve() { return QPDFObjGen(m_nextObject++, 0); }
    // Appends `id` holding `body`; answers where the body starts within the update.
    qsizetype addObject(QPDFObjGen id, const QByteArray &body);
    // Appends a stream object, unfiltered; `entries` are its dictionary's other keys.
    void addStream(QPDFObjGen id, const QByteArray &entries, const QByteArray &data);
    // The update with its cross-reference section and trailer; the update is complete after it.
    QByteArray finish();

private:
    struct Entry
    {
        QPDFObjGen id;
        qint64 offset; // in the whole signed file
    };

    QList<std::pair<int, int>> runs() const;
    QByteArray trailerEntries() const;
    void writeClassicSection();
    void writeStreamSection(qint64 offset);

    const PdfDocument &m_document;
    QByteArray m_bytes;
    QList<Entry> m_entries;
    int m_nextObject;
};
