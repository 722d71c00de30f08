#pragma once

#include <QByteArray>
#include <QList>

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
    QByteArray origin;
    QByteArray certificate; // DER
    QList<Item> items;
    QByteArray description;
};
