#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

using namespace qv::test;

namespace {

struct Outcome {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs the driver's document command; cpuSeconds above 0 caps its processor time.
Outcome document(const QStringList& args, const QString& home, int cpuSeconds = 0)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", home + "/config");
    env.insert("XDG_CACHE_HOME", home + "/cache");
    env.remove("QUORVENDA_TEST_HARNESS");
    process.setProcessEnvironment(env);
    const QString driver = QStringLiteral(QV_BUILD_DIR "/quorvenda-dev");
    if (cpuSeconds > 0)
        process.start("prlimit", QStringList{"--cpu=" + QString::number(cpuSeconds), driver, "document"} + args);
    else
        process.start(driver, QStringList{"document"} + args);
    process.waitForFinished(60000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

QJsonArray blocksOf(const QByteArray& json)
{
    return QJsonDocument::fromJson(json).object().value("blocks").toArray();
}

QString kinds(const QJsonArray& blocks)
{
    QStringList list;
    for (const auto& block : blocks)
        list.append(block.toObject().value("kind").toString());
    return list.join(' ');
}

} // namespace

TEST(DocumentCommand, ReadsMarkdownIntoTheModel)
{
    QTemporaryDir dir;
    const QString notes = writeFile(dir.filePath("notes.md"),
                                    "# Notes\n\n**strong** *emph* `code` ~~strike~~ [link](https://example.com)\n\n"
                                    "- bullet\n   1. numbered\n\n> - quoted\n\n```\na\nb\n```\n\n"
                                    "| a | b |\n|---|---|\n| c | d |\n\ntext ![alt](pic.png) more\n\n"
                                    "Sub\n---\n\n```\n---\n```\n\none\n\n***\n\ntwo\n");
    const Outcome outcome = document({notes}, dir.path());
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err.toStdString();
    const QJsonObject model = QJsonDocument::fromJson(outcome.out).object();
    EXPECT_EQ(model.value("title").toString(), "Notes");
    const QJsonArray blocks = model.value("blocks").toArray();
    EXPECT_EQ(kinds(blocks), "heading paragraph listItem listItem listItem code table paragraph image paragraph "
                             "heading code paragraph rule paragraph");
    const QJsonArray runs = blocks[1].toObject().value("runs").toArray();
    EXPECT_TRUE(runs[0].toObject().value("bold").toBool());
    EXPECT_TRUE(runs[2].toObject().value("italic").toBool());
    EXPECT_TRUE(runs[4].toObject().value("code").toBool());
    EXPECT_TRUE(runs[6].toObject().value("strike").toBool());
    EXPECT_EQ(runs[8].toObject().value("link").toString(), "https://example.com");
    EXPECT_FALSE(runs[1].toObject().contains("bold"));
    EXPECT_EQ(blocks[2].toObject().value("ordered").toBool(), false);
    EXPECT_EQ(blocks[3].toObject().value("level").toInt(), 2);
    EXPECT_EQ(blocks[3].toObject().value("ordered").toBool(), true);
    EXPECT_EQ(blocks[4].toObject().value("level").toInt(), 1);
    EXPECT_EQ(blocks[5].toObject().value("runs").toArray()[0].toObject().value("text").toString(), "a\nb");
    EXPECT_EQ(blocks[6].toObject().value("rows").toArray().size(), 2);
    EXPECT_EQ(blocks[8].toObject().value("path").toString(), "pic.png");
    EXPECT_EQ(blocks[8].toObject().value("ext").toString(), "png");

    const Outcome roundtrip = document({notes, "--roundtrip"}, dir.path());
    ASSERT_EQ(roundtrip.exitCode, 0);
    // The image has no file to be drawn from, so only it is missing after the trip.
    QJsonArray withoutImage = blocks;
    withoutImage.removeAt(8);
    EXPECT_EQ(blocksOf(roundtrip.out), withoutImage);
}

TEST(DocumentCommand, WritesMarkdownHtmlAndText)
{
    QTemporaryDir dir;
    const QString source = writeFile(dir.filePath("list.md"), "1. a\n2. b\n\npara a_b*c\n\n3\\. x\n\n- one\n- two\n\n"
                                                              "Tom & \"Jerry\" <3 it's\n\n![scan](scan.tif)\n");
    ASSERT_EQ(runProgram("vips", {"black", dir.filePath("scan.tif"), "4", "4"}), 0);
    const Outcome md = document({source, "--to", "md"}, dir.path());
    ASSERT_EQ(md.exitCode, 0);
    EXPECT_EQ(md.out, "1. a\n2. b\n\npara a\\_b\\*c\n\n3\\. x\n\n- one\n- two\n\nTom & \"Jerry\" \\<3 it's\n\n"
                      "![scan](scan.tif)\n");
    const QString again = writeFile(dir.filePath("again.md"), md.out);
    EXPECT_EQ(blocksOf(document({again}, dir.path()).out), blocksOf(document({source}, dir.path()).out));

    const Outcome html = document({source, "--to", "html"}, dir.path());
    ASSERT_EQ(html.exitCode, 0);
    EXPECT_TRUE(html.out.contains("<ul><li>\none\n</li><li>\ntwo\n</li></ul>"));
    EXPECT_TRUE(html.out.contains("<p>Tom &amp; &quot;Jerry&quot; &lt;3 it's</p>"));
    const qsizetype at = html.out.indexOf("data:image/png;base64,");
    ASSERT_GE(at, 0);
    const QByteArray encoded = html.out.mid(at + 22, html.out.indexOf('"', at) - at - 22);
    EXPECT_TRUE(QByteArray::fromBase64(encoded).startsWith("\x89PNG\r\n\x1a\n"));

    const Outcome txt = document({source, "--to", "txt"}, dir.path());
    EXPECT_TRUE(txt.out.startsWith(QString::fromUtf8("\u2022 a\n\n\u2022 b").toUtf8()));
}

TEST(DocumentCommand, TextEncodingsAndStatistics)
{
    QTemporaryDir dir;
    const QString latin = writeFile(dir.filePath("latin.txt"), "caf\xe9 \x80\r\n\r\nnext");
    const Outcome read = document({latin}, dir.path());
    ASSERT_EQ(read.exitCode, 0);
    const QJsonArray blocks = blocksOf(read.out);
    ASSERT_EQ(blocks.size(), 2);
    EXPECT_EQ(blocks[0].toObject().value("runs").toArray()[0].toObject().value("text").toString(),
              QString::fromUtf8("caf\xc3\xa9 \xe2\x82\xac"));

    // One stray byte is replaced; a file of nothing but such bytes is not text.
    const QString stray = writeFile(dir.filePath("stray.txt"), "abc\x81");
    const Outcome replaced = document({stray}, dir.path());
    ASSERT_EQ(replaced.exitCode, 0);
    EXPECT_EQ(blocksOf(replaced.out)[0].toObject().value("runs").toArray()[0].toObject().value("text").toString(),
              QString::fromUtf8("abc\xef\xbf\xbd"));
    EXPECT_EQ(readFile(stray), "abc\x81");
    const QString binary = writeFile(dir.filePath("binary.txt"), QByteArray(64, '\x81') + QByteArray(64, '\0'));
    const Outcome bad = document({binary}, dir.path());
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_EQ(bad.err.trimmed().split('\n').last(), "This text file uses an unknown encoding");
    EXPECT_TRUE(bad.out.isEmpty());

    QStringList words;
    for (int i = 0; i < 345; ++i)
        words.append("word");
    const QString many = writeFile(dir.filePath("many.txt"), words.join(' ').toUtf8());
    const QString line = QString::fromUtf8(document({many, "--stats"}, dir.path()).out.trimmed());
    EXPECT_TRUE(line.startsWith(QString::fromUtf8("345 words \xc2\xb7 "))) << line.toStdString();
    EXPECT_TRUE(line.endsWith(QString::fromUtf8(" characters \xc2\xb7 2 min read"))) << line.toStdString();
    words.removeLast();
    writeFile(many, words.join(' ').toUtf8());
    EXPECT_TRUE(document({many, "--stats"}, dir.path()).out.trimmed().endsWith(" 1 min read"));
}

TEST(DocumentCommand, HostileXhtmlStaysSmall)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("secret.txt"), "TOPSECRET");
    QByteArray xhtml = "<?xml version=\"1.0\"?>\n<!DOCTYPE html [\n<!ENTITY ext SYSTEM \"secret.txt\">\n"
                       "<!ENTITY lol \"lol\">\n";
    QByteArray previous = "lol";
    for (int i = 1; i <= 9; ++i) {
        const QByteArray name = "lol" + QByteArray::number(i);
        xhtml += "<!ENTITY " + name + " \"" + QByteArray("&" + previous + ";").repeated(10) + "\">\n";
        previous = name;
    }
    xhtml += "]>\n<html xmlns=\"http://www.w3.org/1999/xhtml\"><body><p>&ext;</p><p>&lol9;</p><p>fine</p></body></html>";
    const QString file = writeFile(dir.filePath("bomb.xhtml"), xhtml);
    const Outcome outcome = document({file}, dir.path(), 10);
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    EXPECT_LT(usage.ru_maxrss, 300 * 1024);
    EXPECT_TRUE(outcome.exitCode == 0 || outcome.exitCode == 1) << outcome.exitCode;
    const QByteArray output = outcome.out + outcome.err;
    EXPECT_FALSE(output.contains("TOPSECRET"));
    EXPECT_LT(output.size(), 100000);
}

TEST(DocumentCommand, RoundTripThroughRichTextChangesNothing)
{
    QTemporaryDir dir;
    const QString source = writeFile(dir.filePath("trip.md"),
        "# Report\n\n## Second half\n\n### Detail\n\n"
        "Text with **bold**, *italic*, ***both***, ~~struck~~, `inline code` and a [link](https://example.com/page).\n\n"
        "- first\n   1. nested one\n   2. nested two\n      - deeper\n- second\n\n"
        "```\nint main()\n{\n\n\treturn 0;\n        // indented\n}\n```\n\n"
        "| Name | Qty | Note |\n| --- | --- | --- |\n| apple | 3 | red |\n| pear | 5 | green |\n\nThe end.\n");
    const Outcome plain = document({source}, dir.path());
    const Outcome trip = document({source, "--roundtrip"}, dir.path());
    ASSERT_EQ(plain.exitCode, 0);
    ASSERT_EQ(trip.exitCode, 0);
    EXPECT_EQ(trip.out, plain.out);
}

TEST(DocumentCommand, BrokenFilesGiveOneSentence)
{
    QTemporaryDir dir;
    QByteArray binary(4096, '\0');
    for (int i = 0; i < binary.size(); ++i)
        binary[i] = char((i * 7919) % 256);
    const QStringList names{"binary.md", "binary.html", "binary.txt", "truncated.docx", "truncated.odt"};
    for (const QString& name : names) {
        const QByteArray bytes = name.startsWith("truncated") ? QByteArray("PK\x03\x04\x14\0\0\0", 8) : binary;
        const QString file = writeFile(dir.filePath(name), bytes);
        const Outcome outcome = document({file}, dir.path());
        EXPECT_EQ(outcome.exitCode, 1) << name.toStdString();
        const QByteArray message = outcome.err.trimmed().split('\n').last();
        EXPECT_TRUE(message == "This text file uses an unknown encoding"
                    || message == "This document is damaged or not in a supported format")
            << name.toStdString() << ": " << message.toStdString();
        EXPECT_EQ(readFile(file), bytes);
    }
    // A broken data URI and a missing picture leave the rest of the page.
    const QString page = writeFile(dir.filePath("page.html"),
                                   "<p>kept</p><img src=\"data:image/png;base64,%%%\"><img src=\"none.png\"><p>too</p>");
    const Outcome outcome = document({page}, dir.path());
    ASSERT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(kinds(blocksOf(outcome.out)), "paragraph paragraph");
}

// A Word table of numbers comes out of the command as a Markdown table, its quote upright.
TEST(DocumentCommand, WordTableAsMarkdownTable)
{
    QTemporaryDir dir;
    const QString docx = dir.filePath("figures.docx");
    QByteArray output;
    ASSERT_EQ(runProgram("/usr/bin/python3",
                         {"-c", "import sys, docx\nd = docx.Document()\nt = d.add_table(rows=2, cols=2)\n"
                                "t.style = 'Table Grid'\n"
                                "for i, (a, b) in enumerate([('Item', 'Count'), ('120', '135')]):\n"
                                "    t.cell(i, 0).text = a; t.cell(i, 1).text = b\n"
                                "d.add_paragraph('A wise remark.', style='Quote')\nd.save(sys.argv[1])\n",
                          docx},
                         &output),
              0)
        << output.toStdString();
    const Outcome md = document({docx, "--to", "md"}, dir.path());
    ASSERT_EQ(md.exitCode, 0) << md.err.toStdString();
    EXPECT_TRUE(md.out.contains("| Item | Count |\n| --- | --- |\n| 120 | 135 |")) << md.out.toStdString();
    EXPECT_TRUE(md.out.contains("> A wise remark.\n")) << md.out.toStdString();
}
