#define POINTERHOLDER_TRANSITION 4

#include "engines/pdf/PdfDrawingSyntax.h"

#include <gtest/gtest.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <random>
#include <string>
#include <vector>

using namespace qv;

namespace {

class Discard : public QPDFObjectHandle::ParserCallbacks {
public:
    void handleObject(QPDFObjectHandle) override {}
    void handleEOF() override {}
};

bool isRepeatedKey(const QPDFExc& warning)
{
    return warning.getMessageDetail().starts_with("dictionary has duplicated key");
}

// What qpdf's own content parser warns of, up to its first warning of damage.
std::vector<std::string> parserWarnings(const std::string& drawing)
{
    QPDF qpdf;
    qpdf.emptyPDF();
    qpdf.setSuppressWarnings(true);
    Discard discard;
    qpdf.newStream(drawing).parseAsContents(&discard);
    std::vector<std::string> found;
    for (const QPDFExc& warning : qpdf.getWarnings()) {
        found.push_back(warning.getMessageDetail());
        if (!isRepeatedKey(warning))
            break;
    }
    return found;
}

std::vector<std::string> syntaxWarnings(const std::string& drawing)
{
    std::vector<std::string> found;
    for (const QPDFExc& warning : PdfDrawingSyntax::warnings(drawing, "drawing"))
        found.push_back(warning.getMessageDetail());
    return found;
}

} // namespace

// The verdict and the first word on a drawing are qpdf's own, on whole drawings and on every
// kind of damage its parser knows.
TEST(PdfDrawingSyntax, WarnsAsQpdfsContentParserDoes)
{
    std::string deep;
    for (int i = 0; i < 600; ++i)
        deep += "[";
    const std::vector<std::string> drawings{
        "",
        "   \n% only a comment\n",
        "BT /F1 24 Tf 72 700 Td (Words) Tj ET\n",
        "q 1 0 0 1 0 0 cm /Im0 Do Q [1 2 [3 4] (a) <414243>] TJ /Tag <</MCID 0 /Name /X>> BDC EMC",
        "BI /W 2 /H 1 /BPC 8 /CS /G ID \x01\xff EI Q",
        "/P <</A 1 /A 2>> BDC EMC",
        "/P <</A 1 /A 2 /B>> BDC EMC",
        "/P <</A 1 2 3>> BDC EMC",
        "/P <<1 /A>> BDC EMC",
        "/P <</QPDFFake1 1 2 3>> BDC",
        "BT /F1 24 Tf 72 700 Td (Words never closed Tj ET\n",
        "BT <4142 Tj ET",
        "BT <41G2> Tj ET",
        "[1 2 >> 3]",
        "<< /A 1 ] >>",
        "1 2 ] re",
        "a b >> c",
        "{ 1 2 } d",
        "[1 2 [3",
        "<</A [1 2 <</B",
        "0 0 m ) l",
        "/Na#zz 1 Tf",
        "/Na#00me 1 Tf",
        "/Tag <</A (x) /B [1 /A] /A 3>> BDC [ <</A 1 /A 2>> ] TJ",
        "BI /W 2 /H 1 ID \x01\x02",
        "ID",
        "[ID 1] TJ",
        "[1 (unclosed ] TJ",
        deep,
        "[1 2 { 3 } } ) >> ]",
        "<</A 1 /B (x) >> >> ]",
    };
    for (const std::string& drawing : drawings) {
        const std::string shown = drawing.substr(0, 60);
        EXPECT_EQ(syntaxWarnings(drawing), parserWarnings(drawing)) << shown;
    }
}

// Drawings pieced together at random from plain tokens and from every kind of trouble, mostly
// whole ones: the quick reading of whole drawings must never pass one qpdf's parser warns of,
// nor refuse one it reads.
TEST(PdfDrawingSyntax, RandomDrawingsAsQpdfsContentParserReadsThem)
{
    const std::vector<std::string> plain{
        "BT", "ET", "q", "Q", "Tj", "TJ", "'", "\"", "cm", "Do", "1", "-2.5", ".5", "+3", "1.2.3", "true", "null",
        "/F1", "/A", "/B", "/Logo", "(text)", "(a (nested) one)", "(esc \\( \\) \\\\ \\n \\101)", "()", "<4142>",
        "<41 42 4>", "<>", "<</A 1>>", "<</A /B /C [1 2]>>", "[1 (x) 2]", "[]", "IDx", "EI", "BI"};
    const std::vector<std::string> trouble{
        "(", ")", "<", ">", "<<", ">>", "[", "]", "{", "}", "%note\n", "ID", "\\", "#", "/N#41", "/", "/A#",
        "(\\q)", "(\\8)", "(open", "<4G>", "\x80", "\f", std::string(1, '\0'), "\x0b", "<</A>>", "<</A 1 /A 2>>",
        "<<1 2>>", "(\xff\x01)", "/\xe9"};
    const std::vector<std::string> gaps{" ", "\n", "\r\n", "\t", ""};
    std::mt19937 random(20261209);
    int whole = 0;
    for (int round = 0; round < 4000; ++round) {
        std::string drawing;
        const int count = int(random() % 24) + 1;
        for (int i = 0; i < count; ++i) {
            const bool troubled = random() % 16 == 0;
            const std::vector<std::string>& pieces = troubled ? trouble : plain;
            drawing += pieces[random() % pieces.size()];
            drawing += gaps[random() % gaps.size()];
        }
        const std::vector<std::string> expected = parserWarnings(drawing);
        whole += expected.empty() ? 1 : 0;
        ASSERT_EQ(syntaxWarnings(drawing).empty(), expected.empty()) << drawing;
    }
    // Both kinds were tried, many times each.
    EXPECT_GT(whole, 400);
    EXPECT_LT(whole, 3600);
}
