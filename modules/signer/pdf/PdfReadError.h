#pragma once

#include "core/SignerError.h"

#include <exception>

// What qpdf says about a document it cannot read, as the page's BadInput: qpdf's own detail
// (no file name, bounded), for a person to see why the document was refused.
SignerError pdfReadError(const std::exception &error);

// Runs `read`, turning anything qpdf throws into BadInput; our own errors pass unchanged.
template <class Read> auto readingPdf(Read &&read) -> decltype(read())
{
    try {
        return read();
    } catch (const SignerError &) {
        throw;
    } catch (const std::exception &error) {
        throw pdfReadError(error);
    }
}
