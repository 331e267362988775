#include "documents/PackageTestTools.h"

#include "documents/readers/EPUBReader.h"
#include "documents/readers/LanguageDetection.h"
#include "documents/writers/EpubWriter.h"
#include "model/errors/CancellationError.h"
#include "model/errors/SystemError.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

using namespace qv;
using namespace qv::test;

namespace {

DocRun linked(const QString& text, const QString& link)
{
    DocRun run(text);
    run.link = link;
    return run;
}

QByteArray tiffBytes(const QTemporaryDir& dir)
{
    const QString png = writeFile(dir.filePath("source.png"), encodedImage(60, 30, "PNG"));
    const QString tiff = dir.filePath("picture.tif");
    if (runProgram("vips", {"copy", png, tiff}) != 0)
        return {};
    return readFile(tiff);
}

// epubcheck's report; empty when the book passes without an error.
QByteArray epubcheckErrors(const QString& book)
{
    QByteArray output;
    const int status = runProgram("java", {"-jar", "/usr/bin/epubcheck", "-q", book}, &output);
    if (status == 0 && !output.contains("ERROR") && !output.contains("FATAL"))
        return {};
    return output.isEmpty() ? QByteArray("epubcheck exited with ") + QByteArray::number(status) : output;
}

bool haveEpubcheck()
{
    return QFile::exists("/usr/bin/epubcheck") && !QStandardPaths::findExecutable("java").isEmpty();
}

QStringList kinds(const QList<DocBlock>& blocks)
{
    QStringList list;
    for (const DocBlock& block : blocks)
        list.append(DocBlock::kindName(block.kind));
    return list;
}

QList<DocBlock> richBook(const QTemporaryDir& dir)
{
    const QString nasty = QString("bad\x01 chars") + QChar(0xFFFE) + QChar(0xDC00) + " gone";
    return {
        DocBlock::paragraph({DocRun("Before the first heading.")}),
        DocBlock::heading(1, {DocRun("One & <Two>")}),
        DocBlock::paragraph({DocRun("Text with "), linked("a site", "https://example.com/?a=1&b=2"), DocRun(", "),
                             linked("a neighbour", "other.md"), DocRun(", "), linked("a fragment", "#nowhere"),
                             DocRun(" and "), linked("a file", "file:///etc/passwd")}),
        DocBlock::image(std::nullopt, encodedImage(40, 20, "PNG"), "png", {DocRun("png")}),
        DocBlock::listItem(false, 1, {DocRun("bullet")}),
        DocBlock::listItem(true, 2, {DocRun("nested")}),
        DocBlock::heading(2, {DocRun("Second")}),
        DocBlock::image(std::nullopt, encodedImage(40, 20, "JPEG"), "jpg", {DocRun("jpeg")}),
        DocBlock::image(std::nullopt, tiffBytes(dir), "png", {DocRun("a TIFF calling itself PNG")}),
        DocBlock::image(std::nullopt, encodedImage(40, 20, "BMP"), "tiff", {DocRun("a BMP")}),
        DocBlock::image(std::nullopt, QByteArray("no picture at all"), "png", {DocRun("garbage")}),
        DocBlock::image(QString("only-a-path.png"), std::nullopt, "png"),
        DocBlock::table({{"a", "b"}, {"c"}}),
        DocBlock::code("line 1\nline <2>"),
        DocBlock::quote({DocRun(nasty)}),
        DocBlock::rule(),
        DocBlock::pageBreak(),
        DocBlock::heading(3, {DocRun("Deeper")}),
        DocBlock::paragraph({DocRun("Last.")}),
    };
}

} // namespace

TEST(EpubWriter, PutsAStoredMimetypeFirstAtByte38)
{
    QTemporaryDir dir;
    const QString out = dir.filePath("book.epub");
    writeEPUB({DocBlock::paragraph({DocRun("Hello")})}, "Book", std::nullopt, out);
    const QByteArray bytes = readFile(out);
    EXPECT_EQ(bytes.mid(30, 28), "mimetypeapplication/epub+zip");
    EXPECT_EQ(bytes.mid(8, 2), QByteArray(2, '\0')) << "stored";
    EXPECT_EQ(bytes.mid(28, 2), QByteArray(2, '\0')) << "no extra field";
    EXPECT_EQ(bytes.at(6) & 0x08, 0) << "no data descriptor";
    QByteArray listing;
    ASSERT_EQ(runProgram("zipinfo", {out}, &listing), 0) << listing.toStdString();
    const QList<QByteArray> lines = listing.split('\n');
    ASSERT_GT(lines.size(), 2);
    EXPECT_TRUE(lines[2].contains("stor")) << lines[2].toStdString();
    EXPECT_TRUE(lines[2].endsWith("mimetype")) << lines[2].toStdString();
    QByteArray test;
    EXPECT_EQ(runProgram("unzip", {"-t", out}, &test), 0) << test.toStdString();
}

TEST(EpubWriter, WritesABookThatEpubcheckAccepts)
{
    QTemporaryDir dir;
    const QString out = dir.filePath("rich.epub");
    writeEPUB(richBook(dir), QString("A & B <c>\x01") + QChar(0xFFFF), QString("Ann & Bob"), out);

    const PackageContents package = readPackage(out);
    EXPECT_EQ(package.names.first(), "mimetype");
    EXPECT_TRUE(package.parts.contains("OEBPS/chapter-1.xhtml"));
    EXPECT_TRUE(package.parts.contains("OEBPS/chapter-3.xhtml"));
    EXPECT_FALSE(package.parts.contains("OEBPS/chapter-4.xhtml"));
    EXPECT_EQ(package.names.filter("OEBPS/images/").join(' '),
              "OEBPS/images/image-1.png OEBPS/images/image-2.jpg OEBPS/images/image-3.png OEBPS/images/image-4.png");
    EXPECT_TRUE(package.parts["OEBPS/images/image-3.png"].startsWith("\x89PNG")) << "the TIFF is re-encoded";
    EXPECT_TRUE(package.parts["OEBPS/images/image-4.png"].startsWith("\x89PNG")) << "the BMP is re-encoded";

    const QByteArray opf = package.parts["OEBPS/content.opf"];
    EXPECT_TRUE(opf.contains("<dc:title>A &amp; B &lt;c&gt;</dc:title>"));
    EXPECT_TRUE(opf.contains("<dc:creator>Ann &amp; Bob</dc:creator>"));
    EXPECT_TRUE(opf.contains("<item id=\"img2\" href=\"images/image-2.jpg\" media-type=\"image/jpeg\"/>"));
    EXPECT_LT(opf.indexOf("id=\"c3\""), opf.indexOf("id=\"img1\""));
    const QByteArray first = package.parts["OEBPS/chapter-1.xhtml"];
    EXPECT_TRUE(first.contains("<title>A &amp; B &lt;c&gt;</title>")) << "untitled first chapter takes the book's title";
    const QByteArray second = package.parts["OEBPS/chapter-2.xhtml"];
    EXPECT_TRUE(second.contains("<title>One &amp; &lt;Two&gt;</title>"));
    EXPECT_TRUE(second.contains("href=\"https://example.com/?a=1&amp;b=2\""));
    EXPECT_FALSE(second.contains("other.md"));
    EXPECT_FALSE(second.contains("#nowhere"));
    EXPECT_FALSE(second.contains("/etc/passwd"));
    EXPECT_TRUE(second.contains("a neighbour"));
    EXPECT_TRUE(second.contains("src=\"images/image-1.png\""));
    const QByteArray third = package.parts["OEBPS/chapter-3.xhtml"];
    EXPECT_TRUE(third.contains("bad chars gone")) << third.toStdString();
    EXPECT_TRUE(package.parts["OEBPS/nav.xhtml"].contains("<li><a href=\"chapter-2.xhtml\">One &amp; &lt;Two&gt;</a></li>"));
    EXPECT_TRUE(package.parts["OEBPS/nav.xhtml"].contains("<title>A &amp; B &lt;c&gt;</title>"));

    for (const QString& name : package.names) {
        if (!name.endsWith(".xhtml") && !name.endsWith(".opf") && !name.endsWith(".xml"))
            continue;
        const QString part = writeFile(dir.filePath("parts/" + QString(name).replace('/', '_')), package.parts[name]);
        QByteArray lint;
        EXPECT_EQ(runProgram("xmllint", {"--noout", "--nonet", part}, &lint), 0) << name.toStdString() << lint.toStdString();
    }
    if (!haveEpubcheck())
        GTEST_SKIP() << "epubcheck is not installed";
    EXPECT_EQ(epubcheckErrors(out), QByteArray());
    const QString empty = dir.filePath("empty.epub");
    writeEPUB({}, "", std::nullopt, empty);
    EXPECT_EQ(epubcheckErrors(empty), QByteArray());
}

TEST(EpubWriter, ReadsBackAsTheSourceBlocksWithPageBreaksBetweenChapters)
{
    QTemporaryDir dir;
    const QList<DocBlock> blocks{
        DocBlock::heading(1, {DocRun("First")}), DocBlock::paragraph({DocRun("one")}),
        DocBlock::listItem(false, 1, {DocRun("item")}), DocBlock::heading(2, {DocRun("Second")}),
        DocBlock::table({{"h1", "h2"}, {"c1", "c2"}}), DocBlock::image(std::nullopt, encodedImage(8, 8, "PNG"), "png", {DocRun("pic")}),
        DocBlock::code("a\nb"), DocBlock::heading(1, {DocRun("Third")}), DocBlock::quote({DocRun("q")}),
    };
    const QString out = dir.filePath("round.epub");
    writeEPUB(blocks, "Round", std::nullopt, out);
    QDir(dir.path()).mkdir("unpacked");
    const EPUBReader::Book book = EPUBReader::read(QUrl::fromLocalFile(out), QUrl::fromLocalFile(dir.filePath("unpacked")));
    EXPECT_EQ(book.title, "Round");
    EXPECT_EQ(book.language, "en");
    EXPECT_EQ(book.chapters.size(), 3);
    const DocumentModel model = EPUBReader::documentModel(book);
    EXPECT_EQ(kinds(model.blocks).join(' '),
              "heading paragraph listItem pageBreak heading table image code pageBreak heading quote");
    QList<DocBlock> expected = blocks;
    expected.insert(3, DocBlock::pageBreak());
    expected.insert(8, DocBlock::pageBreak());
    ASSERT_EQ(model.blocks.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        if (expected[i].kind == DocBlock::Kind::image) {
            EXPECT_EQ(model.blocks[i].data, expected[i].data);
            EXPECT_EQ(model.blocks[i].plainText(), "pic");
        } else {
            EXPECT_EQ(model.blocks[i], expected[i]) << i;
        }
    }
}

TEST(EpubWriter, NamesTheBookLanguage)
{
    const QString japanese = QString::fromUtf8("吾輩は猫である。名前はまだ無い。どこで生れたかとんと見当がつかぬ。何でも薄暗いじめじめした所でニャーニャー泣いていた事だけは記憶している。");
    EXPECT_EQ(detectLanguage({DocBlock::paragraph({DocRun(japanese)})}), "ja");
    EXPECT_EQ(detectLanguage({}), "en");
    EXPECT_EQ(detectTextLanguage("12345 67890"), "en");
    EXPECT_EQ(detectTextLanguage(QString::fromUtf8(
                  "Les enfants jouaient dans le jardin pendant que leurs parents préparaient le repas du soir "
                  "et discutaient des vacances qui approchaient.")),
              "fr");
    EXPECT_EQ(detectTextLanguage(QString::fromUtf8(
                  "這是一個關於語言偵測的測試句子，我們希望系統能夠正確地辨認出繁體中文的文字內容，並且回傳正確的語言標籤。")),
              "zh-Hant");
    EXPECT_EQ(detectTextLanguage(QString::fromUtf8(
                  "这是一个关于语言检测的测试句子，我们希望系统能够正确地识别出简体中文的文字内容，并且返回正确的语言标签。")),
              "zh");
    EXPECT_EQ(languageTagForDetectorCode("iw"), "he");
    EXPECT_EQ(languageTagForDetectorCode("zh-TW"), "zh-Hant");
    EXPECT_EQ(languageTagForDetectorCode("un"), std::nullopt);

    QTemporaryDir dir;
    const QString out = dir.filePath("ja.epub");
    writeEPUB({DocBlock::paragraph({DocRun(japanese)})}, QString::fromUtf8("猫"), std::nullopt, out);
    EXPECT_TRUE(readPackage(out).parts["OEBPS/content.opf"].contains("<dc:language>ja</dc:language>"));
}

TEST(EpubWriter, NeverReplacesAFileAndLeavesNothingWhenCancelled)
{
    QTemporaryDir dir;
    const QString taken = writeFile(dir.filePath("taken.epub"), "mine");
    EXPECT_THROW(writeEPUB({}, "t", std::nullopt, taken), SystemError);
    EXPECT_EQ(readFile(taken), "mine");
    std::stop_source stop;
    stop.request_stop();
    const QString cancelled = dir.filePath("cancelled.epub");
    EXPECT_THROW(writeEPUB({}, "t", std::nullopt, cancelled, {}, stop.get_token()), CancellationError);
    EXPECT_FALSE(QFile::exists(cancelled));
}
