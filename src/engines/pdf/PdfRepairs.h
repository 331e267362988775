#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

class QPDF;

namespace qv {

// Which complaints of the PDF readers describe a repair that restores the file exactly, so that
// a file other programs read whole is not refused for it: a duplicated dictionary key, a wrong
// object count, a stream whose length was recovered, bytes before the header, a cross-reference
// table rebuilt with every object it leads to found. Anything else is damage.
class PdfRepairs {
public:
    PdfRepairs() = delete;

    // Takes qpdf's warnings after a read; true when there were none or each was an exact repair
    // (after a rebuilt cross-reference table, every object reachable from the trailer exists).
    static bool qpdfRepairedExactly(QPDF& qpdf);

    // Whether MuPDF's warning speaks of a repair that qpdf can confirm was exact.
    static bool isMuPdfRepair(const QString& warning);

    // Parses every page's drawing and keeps nothing of it: qpdf warns of what does not parse
    // (a string left open), for qpdfRepairedExactly to judge.
    static void parsePageContents(QPDF& qpdf);

    // Whether qpdf reads the file (or the bytes, when given) whole, every page's content
    // decoding and parsing, every object it leads to reading and every embedded font decoding,
    // with at most exact repairs.
    static bool qpdfReadsWhole(const QByteArray& path, const QByteArray& data,
                               const std::optional<QByteArray>& password);

private:
    // Nothing when the key does not open it.
    static std::optional<bool> readsWhole(const QByteArray& path, const QByteArray& data, const char* key);
};

} // namespace qv
