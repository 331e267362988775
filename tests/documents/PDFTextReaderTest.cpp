#include "documents/PDFTextReader.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QTemporaryDir>

using namespace qv;
using namespace qv::test;

namespace {

using Line = PDFTextReader::Line;

Line line(const QString& text, int size = 11)
{
    return Line{{DocRun{text}}, text.trimmed().isEmpty() ? 0 : size};
}

QString describe(const QList<DocBlock>& blocks)
{
    QStringList all;
    for (const DocBlock& block : blocks) {
        QString kind = DocBlock::kindName(block.kind);
        if (block.kind == DocBlock::Kind::heading)
            kind += QString::number(block.level);
        if (block.kind == DocBlock::Kind::listItem)
            kind += block.ordered ? "#" : "*";
        all.append(kind + ":" + block.plainText());
    }
    return all.join(" | ");
}

// Three pages set in 11 points: a running header, "Page N of 3" footers, headings of 18, 15
// and 13 points.
QString writeReport(const QString& path)
{
    QPdfWriter writer(path);
    writer.setResolution(72);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPainter painter(&writer);
    const auto text = [&](int size, int y, const QString& words) {
        QFont font("DejaVu Sans");
        font.setPixelSize(size);
        painter.setFont(font);
        painter.drawText(60, y, words);
    };
    const QStringList headings{"Annual Report", "Second Section", "Third Part"};
    const QList<int> sizes{18, 15, 13};
    for (int page = 0; page < 3; ++page) {
        if (page > 0)
            writer.newPage();
        text(9, 40, "Example Corp confidential");
        text(sizes[page], 100, headings[page]);
        int y = 140;
        for (int i = 0; i < 6; ++i, y += 16)
            text(11, y, QString("Body line %1 of page %2 carries ordinary words").arg(i + 1).arg(page + 1));
        text(11, y, "This paragraph ends here.");
        text(9, 800, QString("Page %1 of 3").arg(page + 1));
    }
    painter.end();
    return path;
}

} // namespace

TEST(PDFTextReader, HeadingsListsAndJoinedLines)
{
    const QList<QList<Line>> pages{{
        line("Annual", 18), line("Report", 18), line("Overview", 15), line("Details", 13), line("Plain size", 12),
        line("The inter-"), line("national trade grew"), line("and the well-"), line("Known names stayed."), line(""),
        line("a) first"), line("(2) second"), line("2. third"), line("17"), line("Page 3 of 12"), line("Chapter 3"),
    }};
    const DocumentModel model = PDFTextReader::modelFromPages(pages, QString());
    EXPECT_EQ(describe(model.blocks),
              "heading1:Annual Report | heading2:Overview | heading3:Details | paragraph:Plain size The "
              "international trade grew and the well- Known names stayed. | listItem*:first | listItem*:second | "
              "listItem#:third Chapter 3");
    EXPECT_EQ(model.title, "Annual Report");
}

TEST(PDFTextReader, RunningTextsAndParagraphsAcrossPages)
{
    QList<QList<Line>> pages;
    for (int i = 0; i < 10; ++i) {
        QList<Line> page;
        if (i < 6)
            page.append(line("Often on top"));
        if (i < 5)
            page.append(line("Half the time"));
        page.append(line(QString("Body %1 runs on").arg(i)));
        pages.append(page);
    }
    const DocumentModel model = PDFTextReader::modelFromPages(pages, "Own title");
    const QString text = describe(model.blocks);
    EXPECT_FALSE(text.contains("Often on top"));
    EXPECT_TRUE(text.contains("Half the time"));
    // Without final punctuation the paragraph runs on to the next page.
    EXPECT_EQ(model.blocks.size(), 1);
    EXPECT_EQ(model.title, "Own title");

    // Two pages: nothing counts as a running header.
    const DocumentModel two = PDFTextReader::modelFromPages({{line("Top."), line("a.")}, {line("Top."), line("b.")}}, {});
    EXPECT_EQ(describe(two.blocks).count("Top."), 2);
}

TEST(PDFTextReader, ReportThroughTheDriver)
{
    QTemporaryDir dir;
    const QString report = writeReport(dir.filePath("report.pdf"));
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    env.insert("XDG_CACHE_HOME", dir.filePath("cache"));
    env.remove("QUORVENDA_TEST_HARNESS");
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(QV_BUILD_DIR "/quorvenda-dev"), {"document", report});
    ASSERT_TRUE(process.waitForFinished(60000));
    const QByteArray out = process.readAllStandardOutput();
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    const QJsonArray blocks = QJsonDocument::fromJson(out).object().value("blocks").toArray();
    QStringList headings;
    QString all;
    for (const auto& value : blocks) {
        const QJsonObject block = value.toObject();
        const QString text = QJsonDocument(block).toJson(QJsonDocument::Compact);
        all += text;
        if (block.value("kind").toString() == "heading")
            headings.append(QString::number(block.value("level").toInt()));
    }
    EXPECT_EQ(headings, (QStringList{"1", "2", "3"})) << out.toStdString();
    EXPECT_FALSE(all.contains("Example Corp")) << out.toStdString();
    EXPECT_FALSE(all.contains("of 3")) << out.toStdString();
    EXPECT_TRUE(all.contains("This paragraph ends here."));
}
