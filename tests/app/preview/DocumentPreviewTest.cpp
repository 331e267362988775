#include "app/preview/DocumentPreview.h"
#include "app/preview/PreviewContent.h"
#include "catalogue/isolated/CatalogueWorkers.h"
#include "catalogue/isolated/IsolatedDocumentReading.h"
#include "catalogue/isolated/IsolatedReading.h"
#include "documents/office/OfficeConverter.h"
#include "jobs/WorkerPool.h"
#include "model/files/FileInfo.h"
#include "model/operations/Capabilities.h"
#include "platform/files/TemporaryRoot.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QScopeGuard>
#include <QStackedWidget>
#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextImageFormat>
#include <QTextTable>

#include <memory>

using namespace qv;

namespace {

// The preview of a file as the preview window makes it, once its reading settled.
struct Shown {
    DocumentPreview::State state = DocumentPreview::State::reading;
    QString text;
    int tables = 0;
    // The first table's columns set to the right.
    QList<int> rightColumns;
};

Shown previewOf(const QString& path)
{
    QWidget parent;
    const PreviewContent content = makePreviewContent(QUrl::fromLocalFile(path), 1.0, &parent);
    auto* preview = qobject_cast<DocumentPreview*>(content.view);
    if (!preview)
        return {};
    EXPECT_EQ(preview->state(), DocumentPreview::State::reading);
    EXPECT_TRUE(test::waitFor([&] { return preview->state() != DocumentPreview::State::reading; }, 60000));
    Shown shown;
    shown.state = preview->state();
    QTextDocument* document = preview->textView()->document();
    shown.text = document->toPlainText();
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
        if (QTextCursor(block).currentTable() && QTextCursor(block).currentTable()->cellAt(0, 0).firstCursorPosition().block() == block)
            ++shown.tables;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        if (QTextTable* table = QTextCursor(block).currentTable()) {
            for (int c = 0; c < table->columns(); ++c) {
                if (table->cellAt(1, c).firstCursorPosition().blockFormat().alignment() & Qt::AlignRight)
                    shown.rightColumns.append(c);
            }
            break;
        }
    }
    return shown;
}

QString makeZip(const QDir& dir, const QString& name, const QList<std::pair<QString, QByteArray>>& entries)
{
    QString script = QStringLiteral("import zipfile,sys\nz=zipfile.ZipFile(sys.argv[1],'w',zipfile.ZIP_DEFLATED)\n");
    for (const auto& [entry, bytes] : entries)
        script += QStringLiteral("z.writestr(%1,%2)\n")
                      .arg(QString::fromLatin1("bytes.fromhex('" + entry.toUtf8().toHex() + "').decode()"),
                           QString::fromLatin1("bytes.fromhex('" + bytes.toHex() + "')"));
    script += QStringLiteral("z.close()\n");
    const QString path = dir.filePath(name);
    EXPECT_EQ(test::runProgram(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, path}), 0);
    return path;
}

// The pictures a document's preview shows, read in a worker, once the text it must hold is in.
struct Picture {
    QSizeF shown;
    QImage pixels;
};

// shownWidth: the preview is on screen that wide.
QList<Picture> picturesOf(const QString& path, const QStringList& texts, int shownWidth = 0)
{
    QWidget parent;
    const PreviewContent content = makePreviewContent(QUrl::fromLocalFile(path), 1.0, &parent);
    auto* preview = qobject_cast<DocumentPreview*>(content.view);
    EXPECT_TRUE(preview);
    if (!preview)
        return {};
    if (shownWidth > 0) {
        preview->setGeometry(0, 0, shownWidth, 300);
        parent.resize(shownWidth, 300);
        parent.show();
    }
    EXPECT_TRUE(test::waitFor([&] { return preview->state() != DocumentPreview::State::reading; }, 60000));
    EXPECT_EQ(preview->state(), DocumentPreview::State::shown);
    QTextDocument* document = preview->textView()->document();
    for (const QString& text : texts)
        EXPECT_TRUE(document->toPlainText().contains(text)) << document->toPlainText().toStdString();
    QList<Picture> pictures;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (!it.fragment().charFormat().isImageFormat())
                continue;
            const QTextImageFormat format = it.fragment().charFormat().toImageFormat();
            pictures.append({QSizeF(format.width(), format.height()),
                             document->resource(QTextDocument::ImageResource, QUrl(format.name())).value<QImage>()});
        }
    }
    return pictures;
}

} // namespace

TEST(DocumentPreview, DocumentsBooksSheetsArchivesAndSubtitlesShowWhatTheyHold)
{
    qputenv("QUORVENDA_WORKER", QV_BUILD_DIR "/quorvenda-worker");
    IsolatedReading::setEnabled(true);
    const auto off = qScopeGuard([] { IsolatedReading::setEnabled(false); });
    // Idle workers other tests left would answer without a start.
    catalogueWorkers().clear();
    const int startedBefore = catalogueWorkers().startedCount();
    QTemporaryDir temporary;
    const QDir dir(temporary.path());

    // A document's text laid out: headings, lists and tables.
    const QString markdown = test::writeFile(dir.filePath("notes.md"),
                                             "# Harbour log\n\nThe *tide* turned at noon.\n\n- ropes\n- sails\n\n"
                                             "| Boat | Crew |\n|---|---|\n| Ada | 3 |\n");
    Shown shown = previewOf(markdown);
    EXPECT_EQ(shown.state, DocumentPreview::State::shown);
    EXPECT_TRUE(shown.text.contains("Harbour log"));
    EXPECT_TRUE(shown.text.contains("The tide turned at noon."));
    EXPECT_TRUE(shown.text.contains("sails"));
    EXPECT_EQ(shown.tables, 1);
    EXPECT_TRUE(test::waitFor([&] { return catalogueWorkers().startedCount() > startedBefore; }, 60000));

    // A word processor's document, read by our document reader.
    const QString docx = dir.filePath("letter.docx");
    if (test::runProgram("/usr/bin/python3",
                         {"-c", "import docx,sys\nd=docx.Document()\nd.add_heading('Dear reader',1)\n"
                                "d.add_paragraph('Quorvenda reads this in a worker.')\nd.save(sys.argv[1])",
                          docx}) == 0) {
        shown = previewOf(docx);
        EXPECT_EQ(shown.state, DocumentPreview::State::shown);
        EXPECT_TRUE(shown.text.contains("Quorvenda reads this in a worker.")) << shown.text.toStdString();
    }

    // An e-book's first chapter with text: the cover page is passed over.
    const QByteArray container = "<?xml version=\"1.0\"?><container version=\"1.0\" "
                                 "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles>"
                                 "<rootfile full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/>"
                                 "</rootfiles></container>";
    const QByteArray opf = "<?xml version=\"1.0\"?><package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" "
                           "unique-identifier=\"id\"><metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
                           "<dc:identifier id=\"id\">x</dc:identifier><dc:title>Sea Stories</dc:title>"
                           "<dc:language>en</dc:language></metadata><manifest>"
                           "<item id=\"cover\" href=\"cover.xhtml\" media-type=\"application/xhtml+xml\"/>"
                           "<item id=\"c1\" href=\"one.xhtml\" media-type=\"application/xhtml+xml\"/>"
                           "<item id=\"c2\" href=\"two.xhtml\" media-type=\"application/xhtml+xml\"/>"
                           "</manifest><spine><itemref idref=\"cover\"/><itemref idref=\"c1\"/><itemref idref=\"c2\"/>"
                           "</spine></package>";
    const auto page = [](const QByteArray& body) {
        return "<?xml version=\"1.0\"?><html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>t</title></head><body>"
               + body + "</body></html>";
    };
    const QString epub = makeZip(dir, "sea.epub",
                                 {{"mimetype", "application/epub+zip"},
                                  {"META-INF/container.xml", container},
                                  {"OEBPS/content.opf", opf},
                                  {"OEBPS/cover.xhtml", page("<div></div>")},
                                  {"OEBPS/one.xhtml", page("<h1>Chapter One</h1><p>The gulls were loud.</p>")},
                                  {"OEBPS/two.xhtml", page("<h1>Chapter Two</h1><p>Never shown.</p>")}});
    shown = previewOf(epub);
    EXPECT_EQ(shown.state, DocumentPreview::State::shown);
    EXPECT_TRUE(shown.text.contains("The gulls were loud.")) << shown.text.toStdString();
    EXPECT_FALSE(shown.text.contains("Never shown."));

    // A spreadsheet's first sheet as a table, its figures set to the right.
    const QString csv = test::writeFile(dir.filePath("crew.csv"),
                                        "Name,Age,Pay,Code\nAda,36,\"$1,200.50\",A1\n\"Grace, R.\",45,-3 %,7\n");
    shown = previewOf(csv);
    EXPECT_EQ(shown.state, DocumentPreview::State::shown);
    EXPECT_EQ(shown.tables, 1);
    EXPECT_EQ(shown.rightColumns, (QList<int>{1, 2}));
    EXPECT_TRUE(shown.text.contains("Grace, R."));

    // An archive's listing.
    const QString zip =
        makeZip(dir, "bundle.zip", {{"docs/readme.txt", QByteArray(2000, 'a')}, {"photo.jpg", "jpeg"}});
    shown = previewOf(zip);
    EXPECT_EQ(shown.state, DocumentPreview::State::shown);
    EXPECT_TRUE(shown.text.contains("docs/readme.txt"));
    EXPECT_TRUE(shown.text.contains("photo.jpg"));
    EXPECT_TRUE(shown.text.contains("2 kB") || shown.text.contains("2.0 kB")) << shown.text.toStdString();
    // A solid RAR 4, which libarchive lists no further than its first file, through unar's lister.
    if (Capabilities::shared().unarURL()) {
        const QString solid = dir.filePath("solid.rar");
        ASSERT_TRUE(QFile::copy(QStringLiteral(QV_SOURCE_DIR "/tests/files/archives/rar3-solid.rar"), solid));
        shown = previewOf(solid);
        EXPECT_EQ(shown.state, DocumentPreview::State::shown);
        EXPECT_TRUE(shown.text.contains("stest1.txt\n2.0 kB\nstest2.txt\n2.0 kB")) << shown.text.toStdString();
    }

    // A subtitle file's cues.
    const QString srt = test::writeFile(dir.filePath("film.srt"),
                                        "1\n00:00:01,000 --> 00:00:02,500\nAhoy there\n\n"
                                        "2\n00:00:03,000 --> 00:00:04,000\n<i>Land</i> ho\n");
    shown = previewOf(srt);
    EXPECT_EQ(shown.state, DocumentPreview::State::shown);
    EXPECT_TRUE(shown.text.contains("Ahoy there"));
    EXPECT_TRUE(shown.text.contains("Land ho"));
    EXPECT_TRUE(shown.text.contains("00:00:01.000"));

    // What cannot be read falls back to the icon and name.
    const QString broken = test::writeFile(dir.filePath("broken.docx"), "PK\x03\x04 not really a package");
    EXPECT_EQ(previewOf(broken).state, DocumentPreview::State::unreadable);
    const QString junk = test::writeFile(dir.filePath("junk.zip"), QByteArray(300, '\x01'));
    EXPECT_EQ(previewOf(junk).state, DocumentPreview::State::unreadable);
}

TEST(DocumentPreview, AWordDocumentsPhotoShowsAtTheSizeItStates)
{
    qputenv("QUORVENDA_WORKER", QV_BUILD_DIR "/quorvenda-worker");
    IsolatedReading::setEnabled(true);
    const auto off = qScopeGuard([] { IsolatedReading::setEnabled(false); });
    QTemporaryDir temporary;
    const QDir dir(temporary.path());

    // A 600 x 300 photo the document shows at 2.083 x 1.042 inches: 200 x 100 of its pixels.
    QImage photo(600, 300, QImage::Format_RGB32);
    photo.fill(QColor(200, 30, 30));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(photo.save(&buffer, "PNG"));
    const QByteArray types =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/><Default Extension=\"png\" ContentType=\"image/png\"/>"
        "<Override PartName=\"/word/document.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/></Types>";
    const QByteArray packageLinks =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
        "Target=\"word/document.xml\"/></Relationships>";
    const QByteArray documentLinks =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rIdPhoto\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/image\" "
        "Target=\"media/image1.png\"/></Relationships>";
    const QByteArray body =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><w:document "
        "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
        "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" "
        "xmlns:wp=\"http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing\" "
        "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
        "xmlns:pic=\"http://schemas.openxmlformats.org/drawingml/2006/picture\"><w:body>"
        "<w:p><w:r><w:t>Before the photo.</w:t></w:r></w:p>"
        "<w:p><w:r><w:drawing><wp:inline><wp:extent cx=\"1905000\" cy=\"952500\"/><wp:docPr id=\"1\" name=\"Photo\"/>"
        "<a:graphic><a:graphicData uri=\"http://schemas.openxmlformats.org/drawingml/2006/picture\"><pic:pic>"
        "<pic:nvPicPr><pic:cNvPr id=\"1\" name=\"image1.png\"/><pic:cNvPicPr/></pic:nvPicPr>"
        "<pic:blipFill><a:blip r:embed=\"rIdPhoto\"/><a:stretch><a:fillRect/></a:stretch></pic:blipFill>"
        "<pic:spPr><a:xfrm><a:off x=\"0\" y=\"0\"/><a:ext cx=\"1905000\" cy=\"952500\"/></a:xfrm>"
        "<a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></pic:spPr></pic:pic></a:graphicData></a:graphic>"
        "</wp:inline></w:drawing></w:r></w:p><w:p><w:r><w:t>After the photo.</w:t></w:r></w:p></w:body></w:document>";
    const QString docx = makeZip(dir, "photo.docx",
                                 {{"[Content_Types].xml", types},
                                  {"_rels/.rels", packageLinks},
                                  {"word/_rels/document.xml.rels", documentLinks},
                                  {"word/document.xml", body},
                                  {"word/media/image1.png", png}});

    QList<Picture> pictures = picturesOf(docx, {"Before the photo.", "After the photo."});
    ASSERT_EQ(pictures.size(), 1);
    EXPECT_EQ(pictures[0].shown, QSizeF(200, 100));
    // Its pixels came from the worker: twice the size shown at most, the photo's colour.
    EXPECT_EQ(pictures[0].pixels.size(), QSize(400, 200));
    const QColor middle = pictures[0].pixels.pixelColor(200, 100);
    EXPECT_NEAR(middle.red(), 200, 3);
    EXPECT_NEAR(middle.green(), 30, 3);
    EXPECT_NEAR(middle.blue(), 30, 3);
    // In a window narrower than that, as wide as the text, its proportions kept.
    pictures = picturesOf(docx, {}, 150);
    ASSERT_EQ(pictures.size(), 1);
    EXPECT_LT(pictures[0].shown.width(), 150);
    EXPECT_GT(pictures[0].shown.width(), 60);
    EXPECT_NEAR(pictures[0].shown.width(), 2 * pictures[0].shown.height(), 0.01);

    // Word's own: the two pictures it holds, not the one it links to elsewhere, its diagram or
    // its chart.
    pictures = picturesOf(QStringLiteral(QV_SOURCE_DIR "/tests/files/documents/word-inline-pictures.docx"), {});
    ASSERT_EQ(pictures.size(), 2);
    EXPECT_EQ(pictures[0].shown, QSizeF(187, 75));
    EXPECT_EQ(pictures[1].shown, QSizeF(101, 101));
    for (const Picture& picture : pictures) {
        EXPECT_FALSE(picture.pixels.isNull());
        EXPECT_LE(picture.pixels.width(), 2 * picture.shown.width());
    }
}

TEST(DocumentPreview, WhatAWorkerSendsBackIsHeldToTheBounds)
{
    IsolatedDocumentReading::Preview big;
    IsolatedDocumentReading::Block table;
    table.kind = IsolatedDocumentReading::Block::Kind::table;
    for (int r = 0; r < 1000; ++r)
        table.rows.append(QStringList(50, QString(400, QLatin1Char('x'))));
    big.blocks.append(table);
    for (int i = 0; i < 1000; ++i)
        big.blocks.append({IsolatedDocumentReading::Block::Kind::paragraph, 1, false, QStringLiteral("line"), {}});
    const IsolatedDocumentReading::Preview back =
        IsolatedDocumentReading::fromJson(IsolatedDocumentReading::toJson(big));
    EXPECT_TRUE(back.cut);
    ASSERT_FALSE(back.blocks.isEmpty());
    EXPECT_LE(back.blocks.size(), IsolatedDocumentReading::maximumBlocks);
    // A table keeps the row that names its columns beside the most entries a preview shows.
    EXPECT_LE(back.blocks.first().rows.size(), IsolatedDocumentReading::maximumRows + 1);
    EXPECT_LE(back.blocks.first().rows.first().size(), IsolatedDocumentReading::maximumColumns);
    EXPECT_LE(back.blocks.first().rows.first().first().size(), IsolatedDocumentReading::maximumCellCharacters + 1);

    // A picture comes back with at most twice the pixels of the size it is shown at.
    IsolatedDocumentReading::Preview pictures;
    for (const int side : {200, 1000}) {
        IsolatedDocumentReading::Block picture;
        picture.kind = IsolatedDocumentReading::Block::Kind::picture;
        picture.picture = QImage(side, side, QImage::Format_ARGB32_Premultiplied);
        picture.picture.fill(Qt::red);
        picture.shown = QSize(100, 100);
        pictures.blocks.append(picture);
    }
    QTemporaryDir folder(TemporaryRoot::path() + QStringLiteral("/pictures-XXXXXX"));
    ASSERT_TRUE(folder.isValid());
    const IsolatedDocumentReading::Preview shown =
        IsolatedDocumentReading::fromJson(IsolatedDocumentReading::toJson(pictures, folder.path()));
    ASSERT_EQ(shown.blocks.size(), 1);
    EXPECT_EQ(shown.blocks.first().picture.size(), QSize(200, 200));
    EXPECT_TRUE(QDir(folder.path()).isEmpty());
    // Laid out, it narrows with a narrower window and comes back no larger than stated.
    QTextDocument laidOut;
    DocumentPreview::layOut(laidOut, shown);
    const auto shownSize = [&] {
        for (auto it = laidOut.begin().begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isImageFormat())
                return QSizeF(it.fragment().charFormat().toImageFormat().width(),
                              it.fragment().charFormat().toImageFormat().height());
        return QSizeF();
    };
    EXPECT_EQ(shownSize(), QSizeF(100, 100));
    DocumentPreview::fitPictures(laidOut, 50);
    EXPECT_EQ(shownSize(), QSizeF(50, 50));
    DocumentPreview::fitPictures(laidOut, 300);
    EXPECT_EQ(shownSize(), QSizeF(100, 100));

    // Laid out, a cut preview ends with a line that says so.
    QTextDocument document;
    DocumentPreview::layOut(document, back);
    EXPECT_TRUE(document.toPlainText().endsWith(QStringLiteral("This preview shows the first part of the file only.")));
}

TEST(DocumentPreview, OtherWorkbooksAreReadThroughAnOfficeProgram)
{
    if (!Capabilities::shared().libreOfficeURL())
        GTEST_SKIP() << "needs LibreOffice";
    QTemporaryDir temporary;
    const QDir dir(temporary.path());
    const QString csv = test::writeFile(dir.filePath("tides.csv"), "Port,High water\nBrest,06:12\n");
    const QString ods = dir.filePath("tides.ods");
    OfficeConverter::convertWithLibreOffice(QUrl::fromLocalFile(csv), QUrl::fromLocalFile(ods), QStringLiteral("ods"),
                                            {});
    const FileInfo file = fileInfoForURL(QUrl::fromLocalFile(ods));
    ASSERT_TRUE(IsolatedDocumentReading::reads(file));
    // Read here, without the window's time limit: a loaded machine may take its time.
    const IsolatedDocumentReading::Preview preview = IsolatedDocumentReading::read(file);
    ASSERT_EQ(preview.blocks.size(), 1);
    EXPECT_EQ(preview.blocks.first().kind, IsolatedDocumentReading::Block::Kind::table);
    EXPECT_EQ(preview.blocks.first().rows.value(1), (QStringList{"Brest", "06:12"}));
}
