#include "support/CodePictures.h"
#include "support/DevDriver.h"
#include "support/PdfFixtures.h"
#include "support/ScanFixtures.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>

using namespace qv::test;

namespace {

QJsonObject run(const QString& home, QStringList args, int* code = nullptr) {
    args.prepend(QStringLiteral("run"));
    return lastJsonLine(runDevDriver(args, home, code));
}

QString failureOf(const QJsonObject& outcome) {
    return outcome.value("failure").toObject().value("message").toString();
}

QStringList messagesOf(const QJsonObject& outcome) {
    QStringList messages;
    for (const QJsonValue& value : outcome.value("messages").toArray())
        messages.append(value.toString());
    return messages;
}

QStringList outputsOf(const QJsonObject& outcome) {
    QStringList outputs;
    for (const QJsonValue& value : outcome.value("outputs").toArray())
        outputs.append(QFileInfo(value.toString()).fileName());
    return outputs;
}

// Files left under the cache, where the work folders live.
QStringList workLeftovers(const QString& home) {
    QStringList files;
    QDirIterator it(home + "/cache", QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    return files;
}

const QSize kPage(1200, 600);

} // namespace

TEST(TextReadingRun, PdfOcrThenTextAndCodes) {
    QTemporaryDir dir;
    const QString home = dir.filePath("home");
    const QString files = dir.filePath("files");
    const QString scan =
        writeScanPdf(files + "/scan.pdf",
                     {scanPicture({{"Harbour lights glow"}, 44, {}}, kPage),
                      scanPicture({{"Marmalade invoice"}, 44, {}}, kPage), scanPicture({}, kPage)});
    const QString born =
        writeTextPdf(files + "/born.pdf", {"Born digital first page with its own text",
                                           "The second page says something else"});
    const QByteArray scanBytes = readFile(scan);
    const QByteArray bornBytes = readFile(born);

    int code = -1;
    QJsonObject outcome = run(home, {"tool.pdf.ocr", scan}, &code);
    EXPECT_EQ(code, 0) << failureOf(outcome).toStdString();
    EXPECT_EQ(outputsOf(outcome), QStringList{"scan (searchable).pdf"});
    EXPECT_EQ(messagesOf(outcome), QStringList{"Text added to 2 pages"});
    EXPECT_TRUE(outcome.contains("clipboard"));
    EXPECT_TRUE(outcome.value("clipboard").isNull());
    const QString searchable = files + "/scan (searchable).pdf";
    EXPECT_EQ(pdfinfoValue(searchable, "Creator"), "Quorvenda");

    outcome = run(home, {"tool.pdf.ocr", born}, &code);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(failureOf(outcome), "This PDF already has selectable text");

    // The PDF's own text, pages parted by an empty line.
    outcome = run(home, {"convert.pdf.txt", born}, &code);
    EXPECT_EQ(code, 0) << failureOf(outcome).toStdString();
    EXPECT_EQ(outputsOf(outcome), QStringList{"born.txt"});
    EXPECT_EQ(readFile(files + "/born.txt"),
              "Born digital first page with its own text\n\nThe second page says something else");

    outcome = run(home, {"convert.pdf.txt", scan}, &code);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(failureOf(outcome), "This PDF has no text layer. Try OCR first");

    outcome = run(home, {"convert.pdf.txt", searchable}, &code);
    EXPECT_EQ(code, 0) << failureOf(outcome).toStdString();
    const QString recognised = QString::fromUtf8(readFile(files + "/scan (searchable).txt"));
    for (const char* word : {"Harbour", "lights", "glow", "Marmalade", "invoice"})
        EXPECT_TRUE(recognised.contains(word)) << word << " in " << recognised.toStdString();

    outcome = run(home, {"tool.pdf.readQR", scan}, &code);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(failureOf(outcome), "No QR code or barcode found");

    QImage withCode = scanPicture({}, kPage);
    {
        QPainter painter(&withCode);
        painter.drawImage(QPoint(100, 100), qrCodePicture("Pelican 42", 300));
    }
    const QString coded = writeScanPdf(files + "/coded.pdf",
                                       {scanPicture({}, kPage), withCode, scanPicture({}, kPage)});
    outcome = run(home, {"tool.pdf.readQR", coded}, &code);
    EXPECT_EQ(code, 0) << failureOf(outcome).toStdString();
    EXPECT_EQ(messagesOf(outcome), QStringList{"Copied: Pelican 42"});
    EXPECT_EQ(outcome.value("clipboard").toString(), "Pelican 42");
    EXPECT_TRUE(outputsOf(outcome).isEmpty());

    const QString junk = writeJunkPdf(files + "/junk.pdf");
    const QByteArray junkBytes = readFile(junk);
    outcome = run(home, {"tool.pdf.ocr", junk}, &code);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(failureOf(outcome), "This file is damaged or not in a supported format");

    EXPECT_EQ(readFile(scan), scanBytes);
    EXPECT_EQ(readFile(born), bornBytes);
    EXPECT_EQ(readFile(junk), junkBytes);
    EXPECT_EQ(folderEntries(files),
              (QStringList{"born.pdf", "born.txt", "coded.pdf", "junk.pdf", "scan (searchable).pdf",
                           "scan (searchable).txt", "scan.pdf"}));
    EXPECT_TRUE(workLeftovers(home).isEmpty()) << workLeftovers(home).join(", ").toStdString();
}

TEST(TextReadingRun, ThePdfToolsWheelOffersOcrAndReadQR) {
    QTemporaryDir dir;
    const QString pdf = writeTextPdf(dir.filePath("doc.pdf"), {"One page"});
    int code = -1;
    const QByteArray output = runDevDriver({"wheel", "tools", pdf}, dir.filePath("home"), &code);
    const QJsonObject wheel = QJsonDocument::fromJson(output.mid(output.indexOf('{'))).object();
    ASSERT_EQ(code, 0);
    QStringList offered;
    for (const char* ring : {"segments", "overflow"}) {
        for (const QJsonValue& entry : wheel.value(ring).toArray())
            offered.append(entry.toObject().value("id").toString());
    }
    EXPECT_TRUE(offered.contains("tool.pdf.ocr")) << offered.join(", ").toStdString();
    EXPECT_TRUE(offered.contains("tool.pdf.readQR")) << offered.join(", ").toStdString();
}

TEST(TextReadingRun, ATerminationSignalDuringOcrLeavesNothing) {
    QTemporaryDir dir;
    const QString home = dir.filePath("home");
    const QString files = dir.filePath("files");
    QStringList lines;
    for (int i = 0; i < 30; ++i)
        lines.append(QStringLiteral("Line %1 of a long scanned letter to read").arg(i));
    const QString scan = writeScanPdf(
        files + "/long.pdf", QList<QImage>(24, scanPicture({lines, 40, {}}, {2550, 3300})));
    const QByteArray before = readFile(scan);

    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", home + "/config");
    env.insert("XDG_CACHE_HOME", home + "/cache");
    env.remove("QUORVENDA_TEST_HARNESS");
    run.setProcessEnvironment(env);
    run.start(QStringLiteral(QV_BUILD_DIR "/quorvenda-dev"), {"run", "tool.pdf.ocr", scan});
    ASSERT_TRUE(run.waitForStarted(30000));
    // The item's work folder shows that the pages are being read.
    const auto working = [&] {
        return !QDir(home + "/cache/quorvenda/tmp").entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty();
    };
    waitFor([&] { return run.state() != QProcess::Running || working(); }, 60000);
    QThread::msleep(500);
    ASSERT_EQ(run.state(), QProcess::Running) << "the run ended before it could be stopped";
    ::kill(pid_t(run.processId()), SIGTERM);
    ASSERT_TRUE(run.waitForFinished(30000));

    EXPECT_EQ(run.exitCode(), 1);
    const QJsonObject outcome = lastJsonLine(run.readAllStandardOutput().trimmed());
    EXPECT_EQ(outcome.value("state").toString(), "cancelled");
    EXPECT_TRUE(outcome.value("clipboard").isNull());
    EXPECT_EQ(folderEntries(files), QStringList{"long.pdf"});
    EXPECT_EQ(readFile(scan), before);
    EXPECT_TRUE(workLeftovers(home).isEmpty()) << workLeftovers(home).join(", ").toStdString();
}

TEST(TextReadingRun, PictureTextAndCodes) {
    QTemporaryDir dir;
    const QString home = dir.filePath("home");
    const QString files = dir.filePath("files");
    QDir().mkpath(files);
    const QString note = files + "/note.png";
    ASSERT_TRUE(scanPicture({{"Quarterly Report", "The quick brown fox jumps over",
                              "the lazy dog by the river"},
                             40,
                             {260}},
                            {1400, 640})
                    .save(note));
    const QByteArray noteBytes = readFile(note);

    int code = -1;
    QJsonObject outcome = run(home, {"tool.image.extractText", note}, &code);
    EXPECT_EQ(code, 0) << failureOf(outcome).toStdString();
    EXPECT_EQ(outputsOf(outcome), QStringList{"note (text).txt"});
    const QString expected =
        "Quarterly Report\n\nThe quick brown fox jumps over\nthe lazy dog by the river";
    EXPECT_EQ(QString::fromUtf8(readFile(files + "/note (text).txt")), expected);
    EXPECT_EQ(messagesOf(outcome), QStringList{"Text copied to the clipboard"});
    EXPECT_EQ(outcome.value("clipboard").toString(), expected);

    const QString blank = files + "/blank.png";
    ASSERT_TRUE(scanPicture({}, {600, 400}).save(blank));
    outcome = run(home, {"tool.image.extractText", blank}, &code);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(failureOf(outcome), "No text was found in this image");
    EXPECT_TRUE(outcome.value("clipboard").isNull());
    outcome = run(home, {"tool.image.readQR", blank}, &code);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(failureOf(outcome), "No QR code or barcode found");

    QImage sheet(900, 900, QImage::Format_RGB32);
    sheet.fill(Qt::white);
    {
        QPainter painter(&sheet);
        painter.drawImage(QPoint(480, 560), qrCodePicture("Lower code", 240));
        painter.drawImage(QPoint(60, 60), qrCodePicture("Upper code", 240));
    }
    const QString codes = files + "/codes.png";
    ASSERT_TRUE(sheet.save(codes));
    outcome = run(home, {"tool.image.readQR", codes}, &code);
    EXPECT_EQ(code, 0) << failureOf(outcome).toStdString();
    EXPECT_EQ(messagesOf(outcome), (QStringList{"Copied: Upper code", "2 codes"}));
    EXPECT_EQ(outcome.value("clipboard").toString(), "Upper code\nLower code");
    EXPECT_TRUE(outputsOf(outcome).isEmpty());

    const QString junk = writeFile(files + "/junk.png", "plain words, not a picture");
    outcome = run(home, {"tool.image.extractText", junk}, &code);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(failureOf(outcome), "This file is damaged or not in a supported format");

    EXPECT_EQ(readFile(note), noteBytes);
    EXPECT_EQ(readFile(junk), "plain words, not a picture");
    EXPECT_EQ(folderEntries(files),
              (QStringList{"blank.png", "codes.png", "junk.png", "note (text).txt", "note.png"}));
    EXPECT_TRUE(workLeftovers(home).isEmpty()) << workLeftovers(home).join(", ").toStdString();
}

// Every document a PDF becomes keeps the words pdftotext finds in it, however the pages repeat,
// crop or turn their text.
TEST(TextReadingRun, DocumentsMadeOfAPdfKeepItsWords)
{
    QTemporaryDir home;
    QTemporaryDir dir;
    const QByteArray line = "Please keep this notice with your ticket for the whole journey";
    const QByteArray font = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>";
    const auto stream = [](const QByteArray& data) {
        return "<< /Length " + QByteArray::number(data.size()) + " >>\nstream\n" + data + "\nendstream";
    };
    const auto page = [&](const QByteArray& boxes) {
        return "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] " + boxes + " /Contents 4 0 R"
            " /Resources << /Font << /F1 5 0 R >> >> >>";
    };
    const QByteArray text = "BT /F1 12 Tf 150 650 Td (" + line + ") Tj 0 -20 Td (The second line says where to go next) Tj ET";
    // The same notice on every page, which reads as a running head.
    const QString repeated = writeObjectsPdf(dir.filePath("repeated.pdf"),
                                             {"<< /Type /Catalog /Pages 2 0 R >>",
                                              "<< /Type /Pages /Kids [3 0 R 6 0 R 7 0 R] /Count 3 >>", page({}),
                                              stream("BT /F1 12 Tf 72 650 Td (" + line + ") Tj ET"), font, page({}), page({})});
    // A crop box well inside the media box.
    const QString cropped = writeObjectsPdf(dir.filePath("cropped.pdf"),
                                            {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                             page("/CropBox [100 100 512 700]"), stream(text), font});
    // Text turned a quarter and an eighth.
    const QString turned = writeObjectsPdf(
        dir.filePath("turned.pdf"),
        {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>", page({}),
         stream("BT /F1 12 Tf 0 1 -1 0 300 100 Tm (" + line + ") Tj ET BT /F1 12 Tf 0.7071 0.7071 -0.7071 0.7071 100 300 Tm"
                " (The second line says where to go next) Tj ET"),
         font});
    for (const QString& source : {repeated, cropped, turned}) {
        QByteArray found;
        ASSERT_EQ(runProgram("pdftotext", {source, "-"}, &found), 0);
        const QStringList words = QString::fromUtf8(found).split(QRegularExpression("\\W+"), Qt::SkipEmptyParts);
        ASSERT_GE(words.size(), 10) << source.toStdString();
        for (const char* target : {"md", "html", "docx", "odt", "rtf", "epub", "txt"}) {
            const QJsonObject outcome = run(home.path(), {QStringLiteral("convert.pdf.") + target, source});
            const QStringList outputs = stringList(outcome.value("outputs"));
            ASSERT_EQ(outputs.size(), 1) << target << " " << source.toStdString() << " " << failureOf(outcome).toStdString();
            // The text as the file holds it: its packages' parts inflated.
            QByteArray held = readFile(outputs.first());
            if (held.startsWith("PK"))
                runProgram("unzip", {"-p", outputs.first()}, &held);
            int kept = 0;
            for (const QString& word : words)
                kept += held.contains(word.toUtf8()) ? 1 : 0;
            EXPECT_GE(kept * 10, words.size() * 9) << target << " " << source.toStdString();
            QFile::remove(outputs.first());
        }
    }
}

namespace {

// A Word or OpenDocument file's words as a reader sees them: paragraphs apart, runs joined.
QStringList documentWords(const QString& path)
{
    QByteArray xml;
    runProgram("unzip", {"-p", path, path.endsWith(".docx") ? "word/document.xml" : "content.xml"}, &xml);
    QString text = QString::fromUtf8(xml);
    text.replace(QRegularExpression("<(w:tab|w:br|text:s|text:tab|text:line-break)\\b[^>]*/>"), " ");
    text.replace(QRegularExpression("</(w:p|text:p|text:h)>"), "\n");
    text.remove(QRegularExpression("<[^>]*>"));
    text.replace("&lt;", "<").replace("&gt;", ">").replace("&quot;", "\"").replace("&apos;", "'").replace("&amp;", "&");
    return text.split(QRegularExpression("\\W+"), Qt::SkipEmptyParts);
}

} // namespace

// Turned pages and the fields of a form keep, in Word and OpenDocument files, every word
// pdftotext finds on them: pages turned by their own /Rotate or their tree's, text set at a
// quarter turn, and a form whose fields say their pictures are stale (NeedAppearances), whose
// viewers draw each field from its value: a list box its options, a combo box and a text field
// their values. A number alone on its line is a page number only in the page's margins as it
// shows: in a turned page's body or a field it stays. The pypdf form is LibreOffice's, filled
// in by pypdf, which left the old blank pictures behind.
TEST(TextReadingRun, TurnedPagesAndFormFieldsKeepTheirWordsInWordAndOpenDocument)
{
    QTemporaryDir home;
    QTemporaryDir dir;
    const QByteArray font = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>";
    const auto stream = [](const QByteArray& dictionary, const QByteArray& data) {
        return "<< " + dictionary + " /Length " + QByteArray::number(data.size()) + " >>\nstream\n" + data + "\nendstream";
    };
    const auto page = [](const QByteArray& extra, int contents) {
        return "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 5 0 R >> >> /Contents "
            + QByteArray::number(contents) + " 0 R " + extra + " >>";
    };
    const QString turned = writeObjectsPdf(
        dir.filePath("turned.pdf"),
        {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R 6 0 R 7 0 R] /Count 3 /Rotate 180 >>",
         page("/Rotate 90", 4),
         stream({}, "BT /F1 12 Tf 72 700 Td (Harbour pilots board every vessel at dawn) Tj 0 -20 Td"
                    " (Tugboats wait beside the northern breakwater) Tj 228 -300 Td (1987) Tj ET"),
         font, page({}, 8), page("/Rotate 90", 9),
         stream({}, "BT /F1 12 Tf 72 700 Td (Lighthouse keepers log the passing freighters) Tj ET"),
         stream({}, "BT /F1 12 Tf 0 1 -1 0 300 100 Tm (Cranes unload copper and timber before noon) Tj"
                    " 0 1 -1 0 280 100 Tm (Customs officers inspect the sealed containers) Tj ET")});
    const QByteArray widget = "/Type /Annot /Subtype /Widget /P 3 0 R /DA (/Helv 12 Tf 0 g) ";
    const QByteArray stale = " /AP << /N 10 0 R >>";
    const QString form = writeObjectsPdf(
        dir.filePath("form.pdf"),
        {"<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [6 0 R 7 0 R 8 0 R 9 0 R 11 0 R] /NeedAppearances true"
         " /DA (/Helv 0 Tf 0 g) /DR << /Font << /Helv 5 0 R >> >> >> >>",
         "<< /Type /Pages /Kids [3 0 R] /Count 1 >>", page("/Annots [6 0 R 7 0 R 8 0 R 9 0 R 11 0 R]", 4),
         stream({}, "BT /F1 12 Tf 72 740 Td (Membership renewal form) Tj ET"), font,
         "<< " + widget + "/FT /Ch /T (plan) /Opt [(Bronze) (Silver) (Golden)] /V (Silver) /I [1]"
             " /Rect [72 600 272 660]" + stale + " >>",
         "<< " + widget + "/FT /Ch /Ff 131072 /T (region) /Opt [(Northern) (Southern)] /V (Southern)"
             " /Rect [72 560 272 580]" + stale + " >>",
         "<< " + widget + "/FT /Tx /T (member) /V (Theodora Blackwood) /Rect [72 520 272 540]" + stale + " >>",
         "<< " + widget + "/FT /Ch /Ff 2097152 /T (pastimes) /Opt [[(w) (Walking)] [(r) (Rowing)] [(c) (Climbing)]]"
             " /V [(w) (c)] /I [0 2] /Rect [72 420 272 500] >>",
         stream("/Type /XObject /Subtype /Form /BBox [0 0 200 60]", {}),
         "<< " + widget + "/FT /Tx /T (height) /V (150) /Rect [72 380 272 400] >>"});
    const QString filled = dir.filePath("filled.pdf");
    ASSERT_TRUE(QFile::copy(QStringLiteral(QV_SOURCE_DIR "/tests/files/pdf/libreoffice-form.pdf"), filled));
    for (const QString& source : {turned, form, filled}) {
        QByteArray found;
        ASSERT_EQ(runProgram("pdftotext", {source, "-"}, &found), 0);
        const QStringList words = QString::fromUtf8(found).split(QRegularExpression("\\W+"), Qt::SkipEmptyParts);
        ASSERT_GE(words.size(), 8) << source.toStdString();
        for (const char* target : {"docx", "odt"}) {
            const QJsonObject outcome = run(home.path(), {QStringLiteral("convert.pdf.") + target, source});
            const QStringList outputs = stringList(outcome.value("outputs"));
            ASSERT_EQ(outputs.size(), 1) << target << " " << source.toStdString() << " " << failureOf(outcome).toStdString();
            QStringList kept = documentWords(outputs.first());
            QStringList lost;
            for (const QString& word : words) {
                if (!kept.removeOne(word))
                    lost.append(word);
            }
            EXPECT_TRUE(lost.isEmpty()) << target << " " << source.toStdString() << " lost " << lost.join(' ').toStdString();
            QFile::remove(outputs.first());
        }
    }
}
