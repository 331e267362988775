#pragma once

#include <qpdf/QPDFExc.hh>

#include <string>
#include <vector>

namespace qv {

// Whether a page's drawing reads, judged by qpdf's own tokenizer with the rules its content
// parser follows (nesting, dictionary keys, inline pictures), without building the objects
// the parser builds for each token: the same warnings, in the same order, at a third of the
// cost. It stops at the first warning other than a repeated dictionary key, since nothing
// after it can make the drawing whole again. A drawing of plain tokens only is found whole by
// a quick pass over its bytes before the tokenizer is asked.
class PdfDrawingSyntax {
public:
    PdfDrawingSyntax() = delete;

    // What qpdf's parser would warn of while reading the drawing, up to that first damage.
    static std::vector<QPDFExc> warnings(const std::string& drawing, const std::string& description);
};

} // namespace qv
