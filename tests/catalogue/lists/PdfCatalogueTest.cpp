#include "support/DevDriver.h"
#include "support/PdfFixtures.h"
#include "support/TestFiles.h"

#include "catalogue/lists/PdfCatalogue.h"
#include "catalogue/tools/AllToolDescriptors.h"
#include "model/operations/Capabilities.h"
#include "support/DescriptorLists.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace qv;
using namespace qv::test;

namespace {

const OperationDescriptor& byID(const QString& id)
{
    return qv::test::byID(pdfDescriptors(), id);
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// Runs one operation through the development driver; returns its outcome.
QJsonObject run(const QString& home, QStringList args, int* code = nullptr)
{
    args.prepend(QStringLiteral("run"));
    return lastJsonLine(runDevDriver(args, home, code));
}

QString failureMessage(const QJsonObject& outcome)
{
    return outcome.value("failure").toObject().value("message").toString();
}

} // namespace

TEST(PdfCatalogue, ListsConversionsThenToolsInTheirPlace)
{
    EXPECT_EQ(ids(pdfDescriptors()),
              (QStringList{"convert.pdf.png", "convert.pdf.jpg", "convert.pdf.docx", "convert.pdf.txt",
                           "convert.pdf.md", "convert.pdf.html", "convert.pdf.epub", "convert.pdf.rtf",
                           "convert.pdf.heic", "convert.pdf.tiff", "convert.pdf.odt", "convert.pdf.pptx",
                           "convert.pdf.key", "convert.pdf.pages", "tool.pdf.merge", "tool.pdf.split",
                           "tool.pdf.compress", "tool.pdf.rotate", "tool.pdf.reorder", "tool.pdf.redact",
                           "tool.pdf.removeMetadata", "tool.pdf.ocr", "tool.pdf.extractPages", "tool.pdf.protect",
                           "tool.pdf.unlock", "tool.pdf.readQR"}));
    const QStringList all = ids(allToolDescriptors());
    EXPECT_GT(all.indexOf("convert.pdf.png"), all.indexOf("convert.audio.m4r"));
    const auto firstArchive = std::find_if(all.begin(), all.end(), [](const QString& id) {
        return id.startsWith("convert.archive.");
    });
    ASSERT_NE(firstArchive, all.end());
    // The whole list sits together, before the documents, sheets, subtitles and archives.
    const qsizetype last = all.indexOf("tool.pdf.readQR");
    EXPECT_LT(last, firstArchive - all.begin());
    EXPECT_EQ(last - all.indexOf("convert.pdf.png") + 1, pdfDescriptors().size());
    EXPECT_FALSE(all.value(last + 1).contains(".pdf."));

    const OperationDescriptor& merge = byID("tool.pdf.merge");
    EXPECT_EQ(merge.multiFile, MultiFileMode::combine);
    EXPECT_EQ(merge.minimumFiles, 2);
    EXPECT_EQ(merge.optionFields, QList<OptionField>{OptionField::mergeOrder});
    EXPECT_EQ(byID("tool.pdf.redact").behavior, OperationBehavior::editorOf(EditorKind::redact));
    EXPECT_EQ(byID("tool.pdf.reorder").multiFile, MultiFileMode::single);
    EXPECT_EQ(byID("tool.pdf.extractPages").behavior, OperationBehavior::editorOf(EditorKind::pdfExtract));
    EXPECT_EQ(byID("tool.pdf.protect").behavior, OperationBehavior::sheet());
    EXPECT_EQ(byID("tool.pdf.compress").group, "compress");
    EXPECT_EQ(byID("convert.pdf.jpg").verb, "Converting to JPG");
    EXPECT_EQ(byID("convert.pdf.png").optionFields, QList<OptionField>{OptionField::dpi});
    EXPECT_EQ(byID("convert.pdf.key").engine, EngineID::iwork(IWorkApp::keynote));
    EXPECT_EQ(byID("convert.pdf.html").optionFields, QList<OptionField>{OptionField::approximateLayoutNote});
    EXPECT_TRUE(byID("convert.pdf.md").optionFields.isEmpty());
    EXPECT_EQ(byID("convert.pdf.txt").outputExtension, "txt");
    EXPECT_TRUE(byID("convert.pdf.txt").optionFields.isEmpty());
    for (const char* id : {"tool.pdf.ocr", "tool.pdf.readQR"}) {
        const OperationDescriptor& tool = byID(id);
        EXPECT_EQ(tool.engine, EngineID::of(EngineID::Kind::vision)) << id;
        EXPECT_EQ(tool.behavior, OperationBehavior::run()) << id;
        EXPECT_EQ(tool.multiFile, MultiFileMode::each) << id;
    }
    EXPECT_EQ(byID("tool.pdf.ocr").title, "OCR");
    EXPECT_EQ(byID("tool.pdf.ocr").verb, "Recognizing text");
    EXPECT_EQ(byID("tool.pdf.readQR").title, "Read QR");
    EXPECT_EQ(byID("tool.pdf.readQR").symbol, "qrcode.viewfinder");

    // A locked PDF is offered unlocking only; an open one everything else.
    FileInfo open;
    open.ext = "pdf";
    open.category = FileCategory::pdf;
    FileInfo locked = open;
    locked.isEncrypted = true;
    for (const OperationDescriptor& d : pdfDescriptors()) {
        const bool isUnlock = d.id == "tool.pdf.unlock";
        EXPECT_EQ(d.accepts(locked), isUnlock) << d.id.toStdString();
        EXPECT_EQ(d.accepts(open), !isUnlock) << d.id.toStdString();
    }
}

TEST(PdfCatalogue, DriverRunsTheToolsWithTheEditorsOptions)
{
    QTemporaryDir dir;
    const QString home = dir.filePath("home");
    const QString files = dir.filePath("files");
    const QString report = writeTextPdf(files + "/report.pdf", {"One", "Two", "Three"});
    const QString invoice = writeTextPdf(files + "/invoice.pdf", {"Invoice"});
    const QByteArray reportBytes = readFile(report);

    int code = -1;
    QJsonObject outcome = run(home, {"convert.pdf.png", invoice}, &code);
    EXPECT_EQ(code, 0) << failureMessage(outcome).toStdString();
    EXPECT_EQ(QImageReader(files + "/invoice.png").size(), QSize(2550, 3300));

    outcome = run(home, {"tool.pdf.reorder", "--options", R"({"pageOrder":[2,0,1,99]})", report}, &code);
    EXPECT_EQ(code, 0) << failureMessage(outcome).toStdString();
    EXPECT_EQ(pageTexts(files + "/report (reordered).pdf"), (QStringList{"Three", "One", "Two"}));

    outcome = run(home, {"tool.pdf.extractPages", "--options", R"({"pageOrder":[0,2]})", report}, &code);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(QFile::exists(files + "/report (page 1, 3).pdf"));

    outcome = run(home, {"tool.pdf.redact", "--options", R"({"redactions":{"1":[[[60,690],[300,40]]]}})", report}, &code);
    EXPECT_EQ(code, 0) << failureMessage(outcome).toStdString();
    EXPECT_EQ(pageTexts(files + "/report (redacted).pdf"), (QStringList{"One", "", "Three"}));

    outcome = run(home, {"tool.pdf.redact", report}, &code);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(failureMessage(outcome), "Draw at least one box to redact");

    outcome = run(home, {"tool.pdf.merge", report, invoice}, &code);
    EXPECT_EQ(code, 0);
    // Combined in the natural order of the names.
    EXPECT_EQ(pageTexts(files + "/invoice (merged).pdf"), (QStringList{"Invoice", "One", "Two", "Three"}));
    EXPECT_EQ(readFile(report), reportBytes);
}

TEST(PdfCatalogue, DamagedInputFailsAndLeavesNothing)
{
    QTemporaryDir dir;
    const QString home = dir.filePath("home");
    const QString files = dir.filePath("files");
    QDir().mkpath(files);
    const QString junk = writeJunkPdf(files + "/junk.pdf");
    const QByteArray before = readFile(junk);
    const QStringList tools{"tool.pdf.split", "tool.pdf.compress", "convert.pdf.pptx"};
    for (const QString& id : tools) {
        const std::string tool = id.toStdString();
        int code = -1;
        const QJsonObject outcome = run(home, {id, junk}, &code);
        EXPECT_EQ(code, 1) << tool;
        EXPECT_EQ(failureMessage(outcome), "This file is damaged or not in a supported format") << tool;
    }
    EXPECT_EQ(entries(files), QStringList{"junk.pdf"});
    EXPECT_EQ(readFile(junk), before);
}

// A slide deck of page pictures, one per page, the first page's shape scaled to 1920 points
// on its longer side; no office program is needed, and LibreOffice opens the deck as made.
TEST(PdfCatalogue, PdfToPptxMakesOnePictureSlidePerPage)
{
    QTemporaryDir dir;
    const QString home = dir.filePath("home");
    const QString files = dir.filePath("files");
    QDir().mkpath(files);
    FixtureDocument document;
    // A portrait page turned a quarter: it shows landscape, and so does every slide.
    document.pages = {FixturePage("Turned", 612, 792, 90), FixturePage("Tall", 612, 792),
                      FixturePage("Wide", 842, 595)};
    const QString pdf = writeFixturePdf(files + "/mixed.pdf", document);

    const QByteArray path = qgetenv("PATH");
    QTemporaryDir empty;
    qputenv("PATH", empty.path().toLocal8Bit());
    int code = -1;
    const QJsonObject outcome = run(home, {"convert.pdf.pptx", pdf}, &code);
    qputenv("PATH", path);
    ASSERT_EQ(code, 0) << QJsonDocument(outcome).toJson().toStdString();
    EXPECT_EQ(entries(files), (QStringList{"mixed.pdf", "mixed.pptx"}));
    const QString pptx = files + "/mixed.pptx";

    const auto part = [&](const QString& name) {
        QByteArray bytes;
        EXPECT_EQ(runProgram("/usr/bin/unzip", {"-p", pptx, name}, &bytes), 0) << name.toStdString();
        return bytes;
    };
    // 1920 x 1483.64 points, in EMUs.
    EXPECT_TRUE(part("ppt/presentation.xml").contains("<p:sldSz cx=\"24384000\" cy=\"18842182\"/>"));
    QByteArray listing;
    ASSERT_EQ(runProgram("/usr/bin/unzip", {"-Z1", pptx}, &listing), 0);
    const QStringList names = QString::fromUtf8(listing).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(names.filter(QRegularExpression("^ppt/slides/slide\\d+\\.xml$")).size(), 3);
    // The parts PowerPoint keeps beside every deck are there too.
    for (const char* name : {"ppt/presProps.xml", "ppt/viewProps.xml", "ppt/tableStyles.xml", "docProps/app.xml",
                             "ppt/theme/theme1.xml", "ppt/slideMasters/slideMaster1.xml"})
        EXPECT_TRUE(names.contains(name)) << name;
    EXPECT_TRUE(part("docProps/app.xml").contains("<Slides>3</Slides>"));
    // Each slide one picture of its page at 200 dpi, as large as fits.
    const QList<QSize> pixels{{2200, 1700}, {1700, 2200}, {2339, 1653}};
    for (int i = 1; i <= 3; ++i) {
        const QByteArray slide = part(QString("ppt/slides/slide%1.xml").arg(i));
        EXPECT_EQ(slide.count("<p:pic>"), 1) << i;
        EXPECT_TRUE(part(QString("ppt/slides/_rels/slide%1.xml.rels").arg(i)).contains(QString("media/image%1.png").arg(i).toUtf8()));
        const QString media = dir.filePath(QString("image%1.png").arg(i));
        writeFile(media, part(QString("ppt/media/image%1.png").arg(i)));
        EXPECT_EQ(QImageReader(media).size(), pixels[i - 1]) << i;
    }
    EXPECT_TRUE(part("ppt/slides/slide2.xml").contains("<a:ext cx=\"14559868\" cy=\"18842182\"/>"));

    if (!Capabilities::shared().libreOfficeURL())
        GTEST_SKIP() << "LibreOffice is not installed to open the deck";
    QByteArray output;
    ASSERT_EQ(runProgram("soffice", {"-env:UserInstallation=file://" + dir.filePath("lo"), "--headless",
                                     "--convert-to", "pdf", "--outdir", dir.filePath("lo-out"), pptx},
                         &output),
              0)
        << output.toStdString();
    QByteArray infoBytes;
    ASSERT_EQ(runProgram("pdfinfo", {dir.filePath("lo-out/mixed.pdf")}, &infoBytes), 0);
    const QString info = QString::fromUtf8(infoBytes);
    EXPECT_TRUE(info.contains(QRegularExpression("Pages: +3\\n"))) << info.toStdString();
    // LibreOffice keeps sizes in hundredths of a millimetre.
    EXPECT_TRUE(info.contains(QRegularExpression("Page size: +(1919\\.9\\d*|1920) x 1483\\.6"))) << info.toStdString();
}

TEST(PdfCatalogue, CompressIsOfferedOnlyWithGhostscript)
{
    const OperationDescriptor& compress = byID(pdfDescriptors(), "tool.pdf.compress");
    const FileInfo pdf = fileInfoForURL(QUrl::fromLocalFile("/nowhere/a.pdf"));
    const QByteArray path = qgetenv("PATH");
    QTemporaryDir empty;
    qputenv("PATH", empty.path().toLocal8Bit());
    Capabilities::shared().refreshExternalApps(true);
    const bool hidden = !compress.accepts(pdf);
    qputenv("PATH", path);
    Capabilities::shared().refreshExternalApps(true);
    EXPECT_TRUE(hidden);
    if (!Capabilities::shared().ghostscriptURL())
        GTEST_SKIP() << "Ghostscript is not installed";
    EXPECT_TRUE(compress.accepts(pdf));
}
