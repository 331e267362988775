#include "support/PdfFixtures.h"
#include "support/SmallDisk.h"
#include "support/TestFiles.h"

#include "engines/pdf/PDFEngine.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/errors/JobFailure.h"
#include "model/operations/Capabilities.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <QTemporaryDir>

using namespace qv;
using namespace qv::test;

namespace {

FileInfo fileAt(const QString& path)
{
    FileInfo file;
    file.url = QUrl::fromLocalFile(path);
    file.size = QFileInfo(path).size();
    return file;
}

QString photoPdf(const QString& path)
{
    FixtureDocument doc;
    // 1500 pixels over 5 inches: 300 dpi.
    doc.pages = {FixturePage{"Holiday", 612, 792, 0, photoImage(1500, 1500)},
                 FixturePage{"Sideways", 612, 792, 90, photoImage(1500, 1500)}};
    return writeFixturePdf(path, doc);
}


// An XFA form as form designers write them: a static "Please wait" page over the form's XML,
// bookmarks whose actions are scripts, and a document information dictionary. Ghostscript 10
// keeps the bookmarks and leaves each script action an empty object.
QString xfaFormPdf(const QString& path)
{
    QByteArray content;
    for (int line = 0; line < 300; ++line)
        content += "BT /F1 10 Tf 72 " + QByteArray::number(760 - line * 2) + " Td (Please wait while the form loads) Tj ET\n";
    const QByteArray xfa = "<template xmlns=\"http://www.xfa.org/schema/xfa-template/3.3/\"><subform name=\"form1\">"
                           "<field name=\"Name\"><ui><textEdit/></ui></field></subform></template>";
    const auto stream = [](const QByteArray& data) {
        return "<< /Length " + QByteArray::number(data.size()) + " >>\nstream\n" + data + "\nendstream";
    };
    const QList<QByteArray> objects{
        "<< /Type /Catalog /Pages 2 0 R /Outlines 7 0 R /NeedsRendering true"
        " /AcroForm << /Fields [] /XFA [ (template) 5 0 R ] >> >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R"
        " /Resources << /Font << /F1 6 0 R >> >> >>",
        stream(content),
        stream(xfa),
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
        "<< /Type /Outlines /First 8 0 R /Last 8 0 R /Count 2 >>",
        "<< /Title (Part 1) /Parent 7 0 R /Next 10 0 R /A 9 0 R >>",
        "<< /S /JavaScript /JS (this.pageNum = 0) >>",
        "<< /Title (Part 2) /Parent 7 0 R /Prev 8 0 R /A 11 0 R >>",
        "<< /S /JavaScript /JS (this.pageNum = 1) >>",
        "<< /Title (An application form) /Creator (A form designer) >>"};
    QByteArray pdf = "%PDF-1.7\n";
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer << /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R /Info 12 0 R >>\nstartxref\n"
        + QByteArray::number(xref) + "\n%%EOF\n";
    writeFile(path, pdf);
    return path;
}

} // namespace

TEST(PdfCompression, ShrinksPhotosKeepsTextAndTurnAndNamesItself)
{
    QTemporaryDir dir;
    const QString photo = photoPdf(dir.filePath("photo.pdf"));
    const QByteArray before = readFile(photo);

    WorkBench low;
    const QUrl lowResult = PDFEngine::compress(fileAt(photo), PDFCompressionLevel::low, std::nullopt, low.work(photo));
    WorkBench high;
    const QUrl highResult = PDFEngine::compress(fileAt(photo), PDFCompressionLevel::high, std::nullopt, high.work(photo));

    EXPECT_EQ(highResult.fileName(), "photo (compressed).pdf");
    const qint64 lowSize = QFileInfo(lowResult.toLocalFile()).size();
    const qint64 highSize = QFileInfo(highResult.toLocalFile()).size();
    EXPECT_LT(lowSize, before.size());
    EXPECT_LT(highSize, lowSize);
    ASSERT_EQ(high.notes->messages().size(), 1);
    const int percent = int((1.0 - double(highSize) / double(before.size())) * 100.0);
    EXPECT_EQ(high.notes->messages().first(), QString::number(percent) + " % smaller");

    const QString out = highResult.toLocalFile();
    EXPECT_TRUE(qpdfCheckPasses(out));
    EXPECT_EQ(pdfinfoValue(out, "Creator"), "Quorvenda");
    EXPECT_EQ(pageTexts(out), (QStringList{"Holiday", "Sideways"}));
    // Still shown turned, whether by its /Rotate or by its drawing.
    EXPECT_EQ(PDFEngine::renderPage(PDFEngine::open(out), 1, 72).size(), QSize(792, 612));
    // Downsampled to 100 dpi: 500 pixels over 5 inches.
    const QByteArray images = toolOutput("pdfimages", {"-list", out});
    EXPECT_TRUE(images.contains(" 500   500 ")) << images.toStdString();
    EXPECT_EQ(readFile(photo), before);
    EXPECT_TRUE(high.workLeftovers().size() <= 2); // work files go with the work folder
}

// Every revision of encryption, an owner password alone or a user password given: the pages
// keep the text they had (Ghostscript's own reader drew AES-256 revision 5 blank).
TEST(PdfCompression, EncryptedFilesOfEveryRevisionKeepTheirText)
{
    QTemporaryDir dir;
    FixtureDocument doc;
    doc.pages = {FixturePage{"Holiday by the sea", 612, 792, 0, photoImage(1500, 1500)},
                 FixturePage{"Walks along the cliffs", 612, 792, 0, photoImage(1500, 1500)},
                 FixturePage{"Dinner with old friends", 612, 792, 0, photoImage(1500, 1500)},
                 FixturePage{"The long way home", 612, 792, 0, photoImage(1500, 1500)}};
    const QString plain = writeFixturePdf(dir.filePath("plain.pdf"), doc);
    const QStringList texts = pageTexts(plain);
    ASSERT_EQ(texts.size(), 4);
    const QList<QStringList> encryptions{{"", "owner", "256", "--force-R5"},
                                         {"", "owner", "256"},
                                         {"", "owner", "128", "--use-aes=y"},
                                         {"user", "owner", "256", "--force-R5"}};
    for (const QStringList& encryption : encryptions) {
        const QString locked = dir.filePath("locked " + encryption.join(' ') + ".pdf");
        ASSERT_EQ(runProgram("qpdf", QStringList{"--allow-weak-crypto", "--encrypt"} + encryption + QStringList{"--", plain, locked}), 0);
        const std::optional<QString> password =
            encryption.first().isEmpty() ? std::nullopt : std::optional<QString>(encryption.first());
        WorkBench bench;
        const QUrl result = PDFEngine::compress(fileAt(locked), PDFCompressionLevel::high, password, bench.work(locked));
        EXPECT_EQ(pageTexts(result.toLocalFile()), texts) << encryption.join(' ').toStdString();
        EXPECT_TRUE(qpdfCheckPasses(result.toLocalFile()));
    }
}

TEST(PdfCompression, RefusesWhatCannotShrinkOrIsNoPdf)
{
    QTemporaryDir dir;
    const QString text = writeTextPdf(dir.filePath("line.pdf"), {"One line"});
    WorkBench bench;
    try {
        PDFEngine::compress(fileAt(text), PDFCompressionLevel::medium, std::nullopt, bench.work(text));
        ADD_FAILURE() << "no error";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.message(), "Already as small as it gets");
    }
    EXPECT_TRUE(bench.outputs().isEmpty());
    EXPECT_TRUE(bench.notes->messages().isEmpty());

    const QString junk = writeJunkPdf(dir.filePath("junk.pdf"));
    WorkBench damaged;
    try {
        PDFEngine::compress(fileAt(junk), PDFCompressionLevel::medium, std::nullopt, damaged.work(junk));
        ADD_FAILURE() << "no error";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.message(), "This file is damaged or not in a supported format");
    }

    const QString locked = lockedCopy(text, dir.filePath("locked.pdf"), "pw");
    WorkBench wrong;
    try {
        PDFEngine::compress(fileAt(locked), PDFCompressionLevel::medium, QStringLiteral("bad"), wrong.work(locked));
        ADD_FAILURE() << "no error";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.message(), "PDF is password-protected");
    }

    // A PDF of no pages: Ghostscript writes one blank page of it.
    const QString none = dir.filePath("none.pdf");
    ASSERT_EQ(runProgram("qpdf", {"--empty", none}), 0);
    WorkBench empty;
    EXPECT_EQ(failureOf([&] {
                  PDFEngine::compress(fileAt(none), PDFCompressionLevel::medium, std::nullopt, empty.work(none));
              }),
              "This PDF has no pages");
    EXPECT_TRUE(empty.outputs().isEmpty());
}

TEST(PdfCompression, StoppedWhileGhostscriptRunsPlacesNothing)
{
    QTemporaryDir dir;
    const QString photo = photoPdf(dir.filePath("photo.pdf"));
    WorkBench bench;
    PDFWork work = bench.work(photo);
    const auto newFile = work.workFile;
    work.workFile = [&](const QString& extension) {
        bench.stop.request_stop();
        return newFile(extension);
    };
    EXPECT_THROW(PDFEngine::compress(fileAt(photo), PDFCompressionLevel::medium, std::nullopt, work),
                 CancellationError);
    EXPECT_TRUE(bench.outputs().isEmpty());
    EXPECT_TRUE(bench.notes->messages().isEmpty());
}

TEST(PdfCompression, MissingGhostscriptSaysSoAndLeavesNothing)
{
    QTemporaryDir dir;
    const QString photo = photoPdf(dir.filePath("photo.pdf"));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", dir.path().toUtf8());
    Capabilities::shared().refreshExternalApps(true);
    WorkBench bench;
    QString message;
    try {
        PDFEngine::compress(fileAt(photo), PDFCompressionLevel::medium, std::nullopt, bench.work(photo));
    } catch (const EngineError& e) {
        message = e.message();
    }
    qputenv("PATH", path);
    Capabilities::shared().refreshExternalApps(true);
    EXPECT_EQ(message, "Install Ghostscript to compress PDFs");
    EXPECT_TRUE(bench.outputs().isEmpty());
}

// Ghostscript ends with status 0 when it cannot finish its file; what it leaves is cut short,
// and a repaired cross-reference table can make a short file look whole.
TEST(PdfCompression, GhostscriptsOutputIsCheckedBeforeItIsUsed)
{
    QTemporaryDir dir;
    const QString photo = photoPdf(dir.filePath("photo.pdf"));

    // A Ghostscript that says nothing, ends well and draws one page of the two.
    const QString onePage = writeTextPdf(dir.filePath("one.pdf"), {"Holiday"});
    const QString fakes = dir.filePath("bin");
    writeFile(fakes + "/gs", QStringLiteral("#!/bin/sh\nfor a in \"$@\"; do case $a in -sOutputFile=*) "
                                            "/bin/cp '%1' \"${a#-sOutputFile=}\" ;; esac; done\nexit 0\n")
                                 .arg(onePage)
                                 .toUtf8());
    QFile::setPermissions(fakes + "/gs", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("QUORVENDA_GS", (fakes + "/gs").toUtf8());
    Capabilities::shared().refreshExternalApps(true);
    WorkBench shortBench;
    QString message;
    QString log;
    try {
        PDFEngine::compress(fileAt(photo), PDFCompressionLevel::medium, std::nullopt, shortBench.work(photo));
    } catch (const EngineError& e) {
        message = e.message();
        log = e.log();
    }
    qunsetenv("QUORVENDA_GS");
    Capabilities::shared().refreshExternalApps(true);
    EXPECT_EQ(message, "Couldn't create the PDF");
    EXPECT_TRUE(log.contains("1 of 2 pages")) << log.toStdString();
    EXPECT_TRUE(shortBench.outputs().isEmpty());

    SmallDisk disk(1024 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    ASSERT_TRUE(disk.fillLeaving(24 * 1024));
    WorkBench full;
    PDFWork work = full.work(photo);
    work.workFile = [&disk](const QString& extension) {
        return QUrl::fromLocalFile(disk.filePath(QUuid::createUuid().toString(QUuid::WithoutBraces) + "." + extension));
    };
    try {
        PDFEngine::compress(fileAt(photo), PDFCompressionLevel::low, std::nullopt, work);
        FAIL() << "a cut-off PDF was placed";
    } catch (...) {
        const JobFailure failure = jobFailure(std::current_exception());
        EXPECT_EQ(failure.message, "Not enough disk space") << failure.details.toStdString();
    }
    EXPECT_TRUE(full.outputs().isEmpty());
}

// What Ghostscript leaves of a form's scripted bookmarks read as damage of our own intermediate
// file, named in the details; the form compresses, and qpdf checks the result whole.
TEST(PdfCompression, AnXfaFormWithScriptedBookmarksCompresses)
{
    QTemporaryDir dir;
    const QString form = xfaFormPdf(dir.filePath("form.pdf"));
    ASSERT_TRUE(qpdfCheckPasses(form));
    WorkBench bench;
    QUrl result;
    try {
        result = PDFEngine::compress(fileAt(form), PDFCompressionLevel::medium, std::nullopt, bench.work(form));
    } catch (...) {
        const JobFailure failure = jobFailure(std::current_exception());
        FAIL() << failure.message.toStdString() << ": " << failure.details.toStdString();
    }
    EXPECT_EQ(result.fileName(), "form (compressed).pdf");
    EXPECT_LT(QFileInfo(result.toLocalFile()).size(), QFileInfo(form).size());
    EXPECT_TRUE(qpdfCheckPasses(result.toLocalFile()));
    EXPECT_EQ(pageCountOf(result.toLocalFile()), 1);
    EXPECT_TRUE(pageTexts(result.toLocalFile()).value(0).simplified().startsWith("Please wait while the form loads"));
}

// Ghostscript redraws the document, embedding a font of its own where one does not load: the job
// says stand-ins were drawn, as drawing its pages to pictures does. The photo alone says nothing.
TEST(PdfCompression, StandInsForAFontThatDoesNotLoadAreNoted)
{
    if (!Capabilities::shared().ghostscriptURL())
        GTEST_SKIP() << "needs Ghostscript";
    QTemporaryDir dir;
    FixtureDocument doc;
    doc.pages = {FixturePage{"Hello font", 612, 792, 0, photoImage(1500, 1500)}};
    doc.brokenFont = true;
    const QString source = writeFixturePdf(dir.filePath("font.pdf"), doc);
    WorkBench bench;
    const QUrl result = PDFEngine::compress(fileAt(source), PDFCompressionLevel::medium, std::nullopt, bench.work(source));
    EXPECT_EQ(pageTexts(result.toLocalFile()), QStringList{"Hello font"});
    ASSERT_EQ(bench.notes->messages().size(), 2);
    EXPECT_TRUE(bench.notes->messages().last().contains("stand-ins")) << bench.notes->messages().last().toStdString();
}

// A redraw that loses the words (Ghostscript reading a form or a font otherwise than MuPDF does)
// is no copy of the document: the source's own objects go packed without loss instead.
TEST(PdfCompression, ARedrawThatLosesTheWordsFallsBackToPackingTheSource)
{
    QTemporaryDir dir;
    QStringList pages;
    for (int page = 0; page < 2; ++page) {
        QString text;
        for (int line = 0; line < 30; ++line)
            text += QStringLiteral("Minutes of the quarterly meeting, page %1, line %2. ").arg(page + 1).arg(line + 1);
        pages.append(text);
    }
    const QString plain = writeTextPdf(dir.filePath("plain.pdf"), pages);
    const QString loose = dir.filePath("loose.pdf");
    ASSERT_EQ(runProgram("qpdf", {"--compress-streams=n", "--object-streams=disable", plain, loose}), 0);

    // A Ghostscript that draws two pages of other words.
    const QString other = writeTextPdf(dir.filePath("other.pdf"), {"Nothing alike", "Nothing alike"});
    const QString fakes = dir.filePath("bin");
    writeFile(fakes + "/gs", QStringLiteral("#!/bin/sh\nfor a in \"$@\"; do case $a in -sOutputFile=*) "
                                            "/bin/cp '%1' \"${a#-sOutputFile=}\" ;; esac; done\nexit 0\n")
                                 .arg(other)
                                 .toUtf8());
    QFile::setPermissions(fakes + "/gs", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("QUORVENDA_GS", (fakes + "/gs").toUtf8());
    Capabilities::shared().refreshExternalApps(true);
    WorkBench bench;
    const QString failure = failureOf([&] {
        PDFEngine::compress(fileAt(loose), PDFCompressionLevel::medium, std::nullopt, bench.work(loose));
    });
    qunsetenv("QUORVENDA_GS");
    Capabilities::shared().refreshExternalApps(true);
    ASSERT_EQ(failure, "<no failure>");
    ASSERT_EQ(bench.outputs().size(), 1);
    const QString packed = bench.outDir + QLatin1Char('/') + bench.outputs().first();
    EXPECT_LT(QFileInfo(packed).size(), QFileInfo(loose).size());
    EXPECT_TRUE(qpdfCheckPasses(packed));
    EXPECT_EQ(pageTexts(packed), pageTexts(loose));
    EXPECT_EQ(pdfinfoValue(packed, "Creator"), "Quorvenda");
}
