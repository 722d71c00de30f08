#pragma once

#include <QByteArray>
#include <QList>
#include <optional>

// What the signing dialog tells the user before the PIN goes in: who asks, with which
// certificate, over what. Built from the request by the command; the page's own words
// (description) are raw here and made plain only where they are shown.
struct SigningSummary
{
    struct Item
    {
        qsizetype size = 0;
        QByteArray sha256; // of the item's bytes (of the digest itself, for a digest item)
    };
    // A whole document is shown as such rather than as an item.
    struct Document
    {
        QByteArray fileName; // as the page gave it: raw, like the description
        int pageCount = 0;
        int signatureCount = 0;
        qint64 size = 0;
        QByteArray sha256;
    };
    QByteArray origin;
    QByteArray certificate; // DER
    QList<Item> items;
    QByteArray description;
    std::optional<Document> document;
};
