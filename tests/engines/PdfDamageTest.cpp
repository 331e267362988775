#include "support/PdfFixtures.h"
#include "support/TestFiles.h"

#include "engines/pdf/PDFEngine.h"
#include "engines/pdf/PdfLock.h"
#include "engines/pdf/PDFRenderer.h"
#include "model/errors/EngineError.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <functional>

using namespace qv;
using namespace qv::test;

namespace {

const QString kDamaged = QStringLiteral("This file is damaged or not in a supported format");

// Rewrites bytes of a PDF with python3: `edit` is a statement over the bytearray d.
QString damagedCopy(const QString& source, const QString& target, const QString& edit)
{
    const QString script = QStringLiteral("import re,sys\nd=bytearray(open(sys.argv[1],'rb').read())\n") + edit
        + QStringLiteral("\nopen(sys.argv[2],'wb').write(d)\n");
    EXPECT_EQ(runProgram("/usr/bin/python3", {"-c", script, source, target}), 0);
    return target;
}

// The first JPEG picture's coded data with an end marker halfway through its rows.
QString pictureEndedEarly(const QString& source, const QString& target)
{
    return damagedCopy(source, target,
                       QStringLiteral("i=d.find(b'stream',d.find(b'/DCTDecode'))\n"
                                      "e=d.find(b'endstream',i)\n"
                                      "s=d.find(b'\\xff\\xda',i)\n"
                                      "assert 0<s<e\n"
                                      "k=s+(e-s)//2\n"
                                      "d[k:k+2]=b'\\xff\\xd9'"));
}

// One hexadecimal digit of an entry of the encryption dictionary changed.
QString flipHex(const QString& key)
{
    return QStringLiteral("m=re.search(rb'/%1\\s*<([0-9a-f]+)>',d); i=m.start(1)+4; d[i]=ord('0') if d[i]!=ord('0') else ord('1')")
        .arg(key);
}

// Two pages of text, encrypted with AES-256 by qpdf; an empty user password opens it.
QString ownerLocked(const QTemporaryDir& dir)
{
    const QString plain = writeTextPdf(dir.filePath("plain.pdf"), {"First page words", "Second page words"});
    const QString locked = dir.filePath("locked.pdf");
    EXPECT_EQ(runProgram("qpdf", {"--encrypt", "", "owner", "256", "--", plain, locked}), 0);
    return locked;
}

// Every road that reads a PDF, each into a bench of its own; the sentence of each.
QStringList roadsOver(const QString& path)
{
    QStringList sentences;
    const auto road = [&](const std::function<void(WorkBench&)>& work) {
        WorkBench bench;
        sentences.append(failureOf([&] { work(bench); }));
        if (!bench.outDir.isEmpty()) {
            EXPECT_TRUE(bench.outputs().isEmpty()) << bench.outputs().join(", ").toStdString();
        }
    };
    FileInfo file;
    file.url = QUrl::fromLocalFile(path);
    file.size = QFileInfo(path).size();
    road([&](WorkBench&) { PDFEngine::renderPage(PDFEngine::open(path), 0, 72); });
    road([&](WorkBench&) { PDFEngine::plainText(path); });
    road([&](WorkBench& b) { PDFEngine::split(path, std::nullopt, std::nullopt, b.work(path)); });
    road([&](WorkBench& b) { PDFEngine::merge({file, file}, std::nullopt, b.work(path)); });
    road([&](WorkBench& b) { PDFEngine::rotate(path, std::nullopt, 90, b.work(path)); });
    road([&](WorkBench& b) {
        PDFEngine::pagesToImages(path, std::nullopt, ImageOutput::png, std::nullopt, 72, SettingsSnapshot{}, b.work(path));
    });
    road([&](WorkBench& b) { PDFEngine::compress(file, PDFCompressionLevel::medium, std::nullopt, b.work(path)); });
    road([&](WorkBench& b) { PDFEngine::redact(path, std::nullopt, {{0, {QRectF(10, 10, 50, 50)}}}, b.work(path)); });
    road([&](WorkBench& b) {
        const PageTextReader none = [](const QImage&, double, std::stop_token) { return PageTextLines{}; };
        PDFEngine::addTextLayer(path, none, QStringLiteral("/usr/share/tesseract-ocr/5/tessdata/pdf.ttf"),
                                b.work(path));
    });
    return sentences;
}

// The same roads over a file that must be read: the sentence of each, "<no failure>" when it
// made its result.
QStringList roadsOverWhole(const QString& path)
{
    QStringList sentences;
    const auto road = [&](const std::function<void(WorkBench&)>& work) {
        WorkBench bench;
        sentences.append(failureOf([&] { work(bench); }));
    };
    FileInfo file;
    file.url = QUrl::fromLocalFile(path);
    file.size = QFileInfo(path).size();
    road([&](WorkBench&) { PDFEngine::renderPage(PDFEngine::open(path), 0, 72); });
    road([&](WorkBench& b) { PDFEngine::split(path, std::nullopt, std::nullopt, b.work(path)); });
    road([&](WorkBench& b) { PDFEngine::merge({file, file}, std::nullopt, b.work(path)); });
    road([&](WorkBench& b) { PDFEngine::rotate(path, std::nullopt, 90, b.work(path)); });
    road([&](WorkBench& b) {
        PDFEngine::pagesToImages(path, std::nullopt, ImageOutput::png, std::nullopt, 72, SettingsSnapshot{}, b.work(path));
    });
    road([&](WorkBench& b) { PDFEngine::compress(file, PDFCompressionLevel::medium, std::nullopt, b.work(path)); });
    road([&](WorkBench& b) { PDFEngine::redact(path, std::nullopt, {{0, {QRectF(10, 10, 50, 50)}}}, b.work(path)); });
    return sentences;
}

} // namespace

TEST(PdfDamage, ADamagedEncryptionDictionaryFailsEveryRoad)
{
    QTemporaryDir dir;
    const QString locked = ownerLocked(dir);
    // The intact file opens without a password and reads as pdftotext reads it.
    EXPECT_EQ(PDFEngine::plainText(locked), "First page words\n\nSecond page words");

    // The user key, the permissions check and the stream method, each damaged alone.
    const QStringList damages{flipHex("UE"), flipHex("Perms"),
                              QStringLiteral("i=d.find(b'/AESV3'); d[i:i+6]=b'/AESV9'")};
    for (const QString& damage : damages) {
        const QString broken = damagedCopy(locked, dir.filePath("broken.pdf"), damage);
        // qpdf sees the damage too.
        EXPECT_NE(runProgram("qpdf", {"--check", broken}), 0) << damage.toStdString();
        for (const QString& sentence : roadsOver(broken))
            EXPECT_EQ(sentence, kDamaged) << damage.toStdString();
    }
}

TEST(PdfDamage, ADamagedEncryptionDictionaryBehindAPasswordFails)
{
    QTemporaryDir dir;
    const QString plain = writeTextPdf(dir.filePath("plain.pdf"), {"Behind a password"});
    const QString locked = lockedCopy(plain, dir.filePath("locked.pdf"), "pw");
    const QString broken = damagedCopy(locked, dir.filePath("broken.pdf"), QStringLiteral("i=d.find(b'/AESV3'); d[i:i+6]=b'/AESV9'"));
    EXPECT_EQ(PDFEngine::plainText(locked, QStringLiteral("pw")), "Behind a password");
    EXPECT_EQ(failureOf([&] { PDFEngine::plainText(broken, QStringLiteral("pw")); }), kDamaged);
    WorkBench bench;
    EXPECT_EQ(failureOf([&] { PDFEngine::unlock(broken, QStringLiteral("pw"), bench.work(broken)); }), kDamaged);
    EXPECT_TRUE(bench.outputs().isEmpty());
}

// Encryption dictionaries other readers open with the password: a SubFilter beside the
// Standard handler (qpdf warns it ignores it) and a crypt filter of the file's own name (MuPDF
// opens only StdCF). Unlock is offered for both and opens them; a wrong password still fails.
TEST(PdfDamage, OddButValidEncryptionDictionariesUnlockWithThePassword)
{
    QTemporaryDir dir;
    const QString plain = writeTextPdf(dir.filePath("plain.pdf"), {"Behind a password"});
    const QString locked = lockedCopy(plain, dir.filePath("locked.pdf"), "pw");
    const QStringList edits{QStringLiteral("i=d.find(b'/Length 256 /O'); d[i:i+14]=b'/SubFilter/X/O'"),
                            QStringLiteral("d[:]=d.replace(b'/StdCF', b'/DocCF')")};
    for (const QString& edit : edits) {
        const QString odd = damagedCopy(locked, dir.filePath("odd.pdf"), edit);
        ASSERT_NE(readFile(odd), readFile(locked)) << edit.toStdString();
        // qpdf opens it whole with the password.
        const int checked = runProgram("qpdf", {"--password=pw", "--check", odd});
        EXPECT_TRUE(checked == 0 || checked == 3) << edit.toStdString();
        EXPECT_EQ(pdfNeedsPassword(odd), std::optional<bool>(true)) << edit.toStdString();

        WorkBench wrong;
        EXPECT_EQ(failureOf([&] { PDFEngine::unlock(odd, QStringLiteral("wrong"), wrong.work(odd)); }),
                  "That password didn't unlock the PDF")
            << edit.toStdString();
        WorkBench bench;
        QString opened;
        EXPECT_EQ(failureOf([&] { opened = PDFEngine::unlock(odd, QStringLiteral("pw"), bench.work(odd)).toLocalFile(); }),
                  "<no failure>")
            << edit.toStdString();
        if (opened.isEmpty())
            continue;
        EXPECT_EQ(pdfinfoValue(opened, "Encrypted"), "no") << edit.toStdString();
        EXPECT_EQ(pageTexts(opened), QStringList{"Behind a password"}) << edit.toStdString();
        EXPECT_TRUE(qpdfCheckPasses(opened)) << edit.toStdString();
        QFile::remove(opened);
    }
}

TEST(PdfDamage, AContentStreamThatDoesNotDecodeFailsEveryRoad)
{
    QTemporaryDir dir;
    const QString plain = writeTextPdf(dir.filePath("plain.pdf"), {"Squeezed words", "More words"});
    const QString packed = dir.filePath("packed.pdf");
    ASSERT_EQ(runProgram("qpdf", {"--compress-streams=y", "--object-streams=disable", plain, packed}), 0);
    // The middle of the first Flate stream garbled; offsets stay as they were.
    const QString broken = damagedCopy(packed, dir.filePath("broken.pdf"),
                                       QStringLiteral("i=d.find(b'stream',d.find(b'/FlateDecode'))+8\n"
                                                      "for k in range(4): d[i+k]^=0x5a"));
    EXPECT_NE(runProgram("qpdf", {"--check", broken}), 0);
    // MuPDF on its own draws the page blank and reads no text, with a warning: that is damage.
    EXPECT_EQ(failureOf([&] { PDFRenderer::open(broken, std::nullopt)->render(0, 72); }), kDamaged);
    EXPECT_EQ(failureOf([&] { PDFRenderer::open(broken, std::nullopt)->text(0); }), kDamaged);
    EXPECT_EQ(failureOf([&] { PDFRenderer::open(broken, std::nullopt)->textLines(0); }), kDamaged);
    EXPECT_EQ(PDFRenderer::open(packed, std::nullopt)->text(0).trimmed(), "Squeezed words");
    const QStringList sentences = roadsOver(broken);
    for (qsizetype i = 0; i < sentences.size(); ++i)
        EXPECT_EQ(sentences[i], kDamaged) << "road " << i;
}

// Many pages' drawings are inflated on several threads: a late one that does not inflate is
// found as when it is decoded alone.
TEST(PdfDamage, ALateContentStreamThatDoesNotDecodeFailsTheTurnAndTheSplit)
{
    QTemporaryDir dir;
    QStringList texts;
    for (int page = 1; page <= 40; ++page)
        texts.append(QStringLiteral("Page %1 words").arg(page));
    const QString plain = writeTextPdf(dir.filePath("plain.pdf"), texts);
    const QString packed = dir.filePath("packed.pdf");
    ASSERT_EQ(runProgram("qpdf", {"--compress-streams=y", "--object-streams=disable", plain, packed}), 0);
    const QString late = QStringLiteral("s=[m.start() for m in re.finditer(rb'/FlateDecode',d)]; assert len(s)>=40\n"
                                        "i=d.find(b'stream',s[len(s)*3//4])+8\n");
    const QString garbled = damagedCopy(packed, dir.filePath("garbled.pdf"), late + "for k in range(4): d[i+k]^=0x5a");
    EXPECT_NE(runProgram("qpdf", {"--check", garbled}), 0);
    WorkBench turn;
    EXPECT_EQ(failureOf([&] { PDFEngine::rotate(garbled, std::nullopt, 90, turn.work(garbled)); }), kDamaged);
    EXPECT_TRUE(turn.workLeftovers().isEmpty());
    WorkBench split;
    EXPECT_EQ(failureOf([&] { PDFEngine::split(garbled, std::nullopt, std::nullopt, split.work(garbled)); }), kDamaged);
    WorkBench whole;
    EXPECT_EQ(failureOf([&] { PDFEngine::rotate(packed, std::nullopt, 90, whole.work(packed)); }), "<no failure>");
    EXPECT_EQ(pageTexts(QDir(whole.outDir).filePath("packed (rotated).pdf")), texts);
}

// A page's drawing that inflates but does not read (a string left open): the tools that copy
// pages passed it on as it was, where drawing it fails.
TEST(PdfDamage, ADrawingThatDoesNotReadFailsEveryRoad)
{
    QTemporaryDir dir;
    const QString broken =
        writeContentPdf(dir.filePath("open-string.pdf"), "BT /F1 24 Tf 72 700 Td (Words never closed Tj ET\n");
    EXPECT_FALSE(qpdfCheckPasses(broken));
    const QStringList sentences = roadsOver(broken);
    for (qsizetype i = 0; i < sentences.size(); ++i)
        EXPECT_EQ(sentences[i], kDamaged) << "road " << i;
    // Many pages are parsed on several threads: a late page's string left open is found as well.
    QStringList texts;
    for (int page = 1; page <= 40; ++page)
        texts.append(QStringLiteral("Page %1 words").arg(page));
    const QString many = writeTextPdf(dir.filePath("many.pdf"), texts);
    const QString lateOpen = damagedCopy(many, dir.filePath("late-open-string.pdf"),
                                         "i=d.find(b'(Page 37 words) Tj'); assert i>0; d[i+14:i+15]=b' '");
    EXPECT_FALSE(qpdfCheckPasses(lateOpen));
    WorkBench turn;
    EXPECT_EQ(failureOf([&] { PDFEngine::rotate(lateOpen, std::nullopt, 90, turn.work(lateOpen)); }), kDamaged);
    EXPECT_TRUE(turn.outputs().isEmpty());
    WorkBench manyTurn;
    EXPECT_EQ(failureOf([&] { PDFEngine::rotate(many, std::nullopt, 90, manyTurn.work(many)); }), "<no failure>");
    const QString whole = writeContentPdf(dir.filePath("closed-string.pdf"), "BT /F1 24 Tf 72 700 Td (Words) Tj ET\n");
    for (const QString& sentence : roadsOverWhole(whole)) {
        // Compress may find nothing to gain in so small a file.
        if (sentence != "Already as small as it gets") {
            EXPECT_EQ(sentence, QStringLiteral("<no failure>"));
        }
    }
}

// A page's JPEG picture whose bytes are no JPEG (qpdf's bad-jpeg.pdf): rendering found it, but
// split, rotate and the other tools that copy pages passed it on as it was, a result every reader
// draws without the picture. A whole picture still goes everywhere.
TEST(PdfDamage, APagePictureThatIsNoJpegFailsEveryRoad)
{
    QTemporaryDir dir;
    FixtureDocument document;
    document.pages = {FixturePage{"Pictured page", 612, 792, 0, photoImage(64, 48)}};
    const QString whole = dir.filePath("whole.pdf");
    writeFixturePdf(whole, document);
    const QString broken = damagedCopy(whole, dir.filePath("broken.pdf"),
                                       QStringLiteral("i=d.find(b'stream',d.find(b'/DCTDecode'))+6\n"
                                                      "i+=2 if d[i:i+2]==b'\\r\\n' else 1\n"
                                                      "assert d[i:i+2]==b'\\xff\\xd8'\n"
                                                      "d[i:i+2]=b'ww'"));
    EXPECT_NE(runProgram("qpdf", {"--check", broken}), 0);
    const QStringList sentences = roadsOver(broken);
    for (qsizetype i = 0; i < sentences.size(); ++i)
        EXPECT_EQ(sentences[i], kDamaged) << "road " << i;
    // Compress may find nothing to gain on so small a file.
    const QStringList read = roadsOverWhole(whole);
    for (qsizetype i = 0; i < read.size(); ++i)
        EXPECT_TRUE(read[i] == "<no failure>" || read[i] == "Already as small as it gets") << "road " << i << ": "
                                                                                        << read[i].toStdString();
}

// A page's JPEG picture whose coded data ends early (an end marker in the middle of its rows):
// qpdf finds nothing wrong, poppler and libjpeg warn, a turn, a split or a merge would copy the
// picture as it is, and MuPDF draws it without a warning. Every tool that copies or draws the
// pages refuses it; the whole file still goes everywhere.
TEST(PdfDamage, APagePictureWhoseCodedDataIsDamagedFailsEveryToolThatCopiesPages)
{
    QTemporaryDir dir;
    FixtureDocument document;
    document.pages = {FixturePage{"First page", 612, 792, 0, {}},
                      FixturePage{"Pictured page", 612, 792, 0, photoImage(320, 240)}};
    const QString whole = dir.filePath("whole.pdf");
    writeFixturePdf(whole, document);
    const QString broken = pictureEndedEarly(whole, dir.filePath("broken.pdf"));
    EXPECT_EQ(runProgram("qpdf", {"--check", broken}), 0);
    QByteArray said;
    runProgram("/bin/sh", {"-c", QStringLiteral("pdftoppm -r 20 '%1' '%2' 2>&1 >/dev/null").arg(broken, dir.filePath("drawn"))},
               &said);
    EXPECT_FALSE(said.trimmed().isEmpty()) << "poppler drew the picture without a word";

    const auto copying = [&](const QString& path, bool wantsDamage) {
        QStringList sentences;
        FileInfo info;
        info.url = QUrl::fromLocalFile(path);
        info.size = QFileInfo(path).size();
        const auto road = [&](const std::function<void(WorkBench&)>& work) {
            WorkBench bench;
            sentences.append(failureOf([&] { work(bench); }));
            if (wantsDamage && !bench.outDir.isEmpty()) {
                EXPECT_TRUE(bench.outputs().isEmpty()) << bench.outputs().join(", ").toStdString();
            }
        };
        road([&](WorkBench& b) { PDFEngine::rotate(path, std::nullopt, 90, b.work(path)); });
        road([&](WorkBench& b) { PDFEngine::split(path, std::nullopt, std::nullopt, b.work(path)); });
        road([&](WorkBench& b) { PDFEngine::merge({info, info}, std::nullopt, b.work(path)); });
        road([&](WorkBench& b) { PDFEngine::reorder(path, std::nullopt, {1, 0}, false, b.work(path)); });
        road([&](WorkBench& b) { PDFEngine::protect(path, QStringLiteral("secret"), b.work(path)); });
        road([&](WorkBench& b) { PDFEngine::unlock(path, QString(), b.work(path)); });
        road([&](WorkBench& b) { PDFEngine::removeMetadata(path, std::nullopt, b.work(path)); });
        road([&](WorkBench& b) { PDFEngine::compress(info, PDFCompressionLevel::medium, std::nullopt, b.work(path)); });
        // The roads that draw the pages: MuPDF draws the damage without a warning it passes on.
        road([&](WorkBench&) { PDFEngine::renderPage(PDFEngine::open(path), 1, 72); });
        road([&](WorkBench& b) {
            PDFEngine::pagesToImages(path, std::nullopt, ImageOutput::png, std::nullopt, 72, SettingsSnapshot{},
                                     b.work(path));
        });
        road([&](WorkBench& b) { PDFEngine::redact(path, std::nullopt, {{0, {QRectF(10, 10, 50, 50)}}}, b.work(path)); });
        return sentences;
    };
    const QStringList refused = copying(broken, true);
    for (qsizetype i = 0; i < refused.size(); ++i)
        EXPECT_EQ(refused[i], kDamaged) << "road " << i;
    const QStringList read = copying(whole, false);
    for (qsizetype i = 0; i < read.size(); ++i)
        EXPECT_TRUE(read[i] == "<no failure>" || read[i] == "Already as small as it gets") << "road " << i << ": "
                                                                                        << read[i].toStdString();
    // A merge reads a picture two files share once; the damaged one, the same size as the whole
    // one read before it, is a picture of its own.
    const auto fileAt = [](const QString& path) {
        FileInfo info;
        info.url = QUrl::fromLocalFile(path);
        info.size = QFileInfo(path).size();
        return info;
    };
    WorkBench mixed;
    EXPECT_EQ(failureOf([&] { PDFEngine::merge({fileAt(whole), fileAt(whole), fileAt(broken)}, std::nullopt, mixed.work(whole)); }),
              kDamaged);
    // Only the pages copied count: the first page alone is no copy of the damage.
    WorkBench bench;
    EXPECT_EQ(failureOf([&] { PDFEngine::reorder(broken, std::nullopt, {0}, true, bench.work(broken)); }), "<no failure>");
}

// A turn and a split write while the pictures are parsed: what they wrote goes with the verdict,
// on a book big enough to be written on several threads too.
TEST(PdfDamage, ADamagedPictureFoundWhileWritingLeavesNoFileBehind)
{
    QTemporaryDir dir;
    FixtureDocument document;
    for (int i = 0; i < 20; ++i)
        document.pages.append(FixturePage{QStringLiteral("Page %1").arg(i + 1), 612, 792, 0, {}});
    document.pages.append(FixturePage{"Pictured page", 612, 792, 0, photoImage(320, 240)});
    const QString whole = dir.filePath("whole.pdf");
    writeFixturePdf(whole, document);
    const QString broken = pictureEndedEarly(whole, dir.filePath("broken.pdf"));
    WorkBench turn;
    EXPECT_EQ(failureOf([&] { PDFEngine::rotate(broken, std::nullopt, 90, turn.work(broken)); }), kDamaged);
    EXPECT_TRUE(turn.workLeftovers().isEmpty()) << turn.workLeftovers().join(", ").toStdString();
    WorkBench split;
    EXPECT_EQ(failureOf([&] { PDFEngine::split(broken, std::nullopt, std::nullopt, split.work(broken)); }), kDamaged);
    EXPECT_TRUE(split.workLeftovers().isEmpty()) << split.workLeftovers().join(", ").toStdString();
    // The whole file goes both ways.
    WorkBench wholeTurn;
    EXPECT_EQ(failureOf([&] { PDFEngine::rotate(whole, std::nullopt, 90, wholeTurn.work(whole)); }), "<no failure>");
    WorkBench wholeSplit;
    EXPECT_EQ(failureOf([&] { PDFEngine::split(whole, std::nullopt, std::nullopt, wholeSplit.work(whole)); }),
              "<no failure>");
    EXPECT_EQ(QDir(QDir(wholeSplit.outDir).filePath("whole (parts)")).entryList(QDir::Files).size(), 21);
}

// An object outside the pages lost (its header broken, so the table qpdf rebuilds has no such
// object, and the document information points at nothing): a turn of the file was refused, but
// split, extract and merge copy only what the pages reach and finished without a word.
TEST(PdfDamage, AnObjectLostOutsideThePagesFailsThePageCopiesAsItFailsATurn)
{
    QTemporaryDir dir;
    FixtureDocument document;
    document.pages = {FixturePage{"First page"}, FixturePage{"Second page"}};
    document.info = {{"/Title", "Harbour notes"}};
    const QString whole = dir.filePath("whole.pdf");
    writeFixturePdf(whole, document);
    const QString broken = damagedCopy(whole, dir.filePath("broken.pdf"),
                                       QStringLiteral("m=re.search(rb'/Info (\\d+) 0 R',d)\n"
                                                      "i=d.find(m.group(1)+b' 0 obj')\n"
                                                      "assert i>0\n"
                                                      "d[i:i+len(m.group(1))+6]=b'x'*(len(m.group(1))+6)"));
    QByteArray said;
    runProgram("qpdf", {"--check", broken}, &said);
    EXPECT_TRUE(said.contains("not found")) << said.toStdString();

    FileInfo file;
    file.url = QUrl::fromLocalFile(broken);
    file.size = QFileInfo(broken).size();
    const auto road = [&](const std::function<void(WorkBench&)>& work) {
        WorkBench bench;
        const QString sentence = failureOf([&] { work(bench); });
        EXPECT_TRUE(bench.outputs().isEmpty()) << bench.outputs().join(", ").toStdString();
        return sentence;
    };
    EXPECT_EQ(road([&](WorkBench& b) { PDFEngine::rotate(broken, std::nullopt, 90, b.work(broken)); }), kDamaged);
    EXPECT_EQ(road([&](WorkBench& b) { PDFEngine::split(broken, std::nullopt, std::nullopt, b.work(broken)); }),
              kDamaged);
    EXPECT_EQ(road([&](WorkBench& b) { PDFEngine::reorder(broken, std::nullopt, {1}, true, b.work(broken)); }),
              kDamaged);
    EXPECT_EQ(road([&](WorkBench& b) { PDFEngine::merge({file, file}, std::nullopt, b.work(broken)); }), kDamaged);
    WorkBench bench;
    EXPECT_EQ(failureOf([&] { PDFEngine::split(whole, std::nullopt, std::nullopt, bench.work(whole)); }), "<no failure>");
}

// Files that qpdf repairs exactly, and that pdftotext, MuPDF and qpdf read whole: a duplicated
// key, a wrong object count, bytes before the header, a stream without its endstream, a file
// without a cross-reference table. Every road reads them; a file cut short, or one whose rebuilt
// table misses an object the page uses, is still damaged.
TEST(PdfDamage, FilesRepairedExactlyAreReadOnEveryRoad)
{
    QTemporaryDir dir;
    const QString script = QStringLiteral(R"(import sys
def pdf(catalog=b'<< /Type /Catalog /Pages 2 0 R >>', tail=b'\nendstream', size=6, head=b'', xref=True, resources=b'<< /Font << /F1 5 0 R >> >>', pages=b'<< /Type /Pages /Kids [3 0 R] /Count 1 >>', font=b'<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>', extra=[], content=b'BT /F1 24 Tf 72 700 Td (Hello world) Tj ET'):
    objs = [catalog, pages,
            b'<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources ' + resources + b' >>',
            b'<< /Length %d >>\nstream\n' % len(content) + content + tail,
            font] + extra
    out = head + b'%PDF-1.7\n'
    offsets = []
    for i, o in enumerate(objs):
        offsets.append(len(out) - len(head))
        # An object ending in NOEND is not closed by its keyword.
        out += b'%d 0 obj\n' % (i + 1) + o.replace(b'NOEND', b'') + (b'\n' if o.endswith(b'NOEND') else b'\nendobj\n')
    at = len(out) - len(head)
    if xref:
        out += b'xref\n0 %d\n0000000000 65535 f \n' % (len(objs) + 1) + b''.join(b'%010d 00000 n \n' % o for o in offsets)
    out += b'trailer\n<< /Size %d /Root 1 0 R >>\n' % size
    if xref:
        out += b'startxref\n%d\n' % at
    return out + b'%%EOF\n'
d = sys.argv[1] + '/'
open(d + 'good.pdf', 'wb').write(pdf())
open(d + 'duplicated-key.pdf', 'wb').write(pdf(catalog=b'<< /Type /Catalog /Type /Catalog /Pages 2 0 R >>'))
open(d + 'object-count.pdf', 'wb').write(pdf(size=9))
open(d + 'bytes-before-header.pdf', 'wb').write(pdf(head=b'Recorder header 0042\n'))
open(d + 'no-endstream.pdf', 'wb').write(pdf(tail=b'\n'))
open(d + 'no-table.pdf', 'wb').write(pdf(xref=False))
open(d + 'cut.pdf', 'wb').write(pdf()[:400])
open(d + 'missing-object.pdf', 'wb').write(pdf(xref=False, resources=b'7 0 R'))
# A page listed twice in the tree: qpdf and poppler show it twice.
open(d + 'page-twice.pdf', 'wb').write(pdf(pages=b'<< /Type /Pages /Kids [3 0 R 3 0 R] /Count 2 >>'))
# A glyph whose text is eleven letters, more than MuPDF keeps.
cmap = b'/CIDInit /ProcSet findresource begin 12 dict begin begincmap 1 begincodespacerange <00> <FF> endcodespacerange 1 beginbfchar <7A> <0061006200630064006500660067006800690070006B> endbfchar endcmap CMapName currentdict /CMap defineresource pop end end'
open(d + 'long-glyph-text.pdf', 'wb').write(pdf(size=7, font=b'<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /ToUnicode 6 0 R >>', extra=[b'<< /Length %d >>\nstream\n' % len(cmap) + cmap + b'\nendstream']))
# Sound files MuPDF warns about: a character map with a bad character, a link to a destination
# nobody names, a subsection's first entry on its header's line, a font not closed by endobj, a
# picture whose compressed data lacks its last bytes (its checksum) but none of its rows.
cmap = cmap.replace(b'<7A> <0061', b'<7x> <0061')
open(d + 'bad-hex-in-cmap.pdf', 'wb').write(pdf(size=7, font=b'<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /ToUnicode 6 0 R >>', extra=[b'<< /Length %d >>\nstream\n' % len(cmap) + cmap + b'\nendstream']))
open(d + 'link-to-nowhere.pdf', 'wb').write(pdf(size=7, resources=b'<< /Font << /F1 5 0 R >> >> /Annots [6 0 R]', extra=[b'<< /Type /Annot /Subtype /Link /Rect [72 690 300 720] /Border [0 0 0] /Dest (Nowhere) >>']))
open(d + 'entry-on-subsection-line.pdf', 'wb').write(pdf().replace(b'xref\n0 6\n', b'xref\n0 6 '))
open(d + 'no-endobj.pdf', 'wb').write(pdf(font=b'<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>NOEND'))
import random, zlib
random.seed(7)
rows = bytes(random.randrange(256) for _ in range(64 * 48 * 3))
def pictured(data):
    picture = b'<< /Type /XObject /Subtype /Image /Width 64 /Height 48 /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /FlateDecode /Length %d >>\nstream\n' % len(data) + data + b'\nendstream'
    return pdf(size=7, resources=b'<< /Font << /F1 5 0 R >> /XObject << /P 6 0 R >> >>', extra=[picture], content=b'BT /F1 24 Tf 72 700 Td (Hello world) Tj ET q 128 0 0 96 72 500 cm /P Do Q')
packed = zlib.compress(rows)
open(d + 'picture-without-end.pdf', 'wb').write(pictured(packed[:-4]))
# Half of the rows lost: damage, though its reader's first word is the same.
open(d + 'picture-cut.pdf', 'wb').write(pictured(packed[:len(packed) // 2]))
)");
    ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", script, dir.path()}), 0);
    // A cross-reference stream with more entries than its /Size: the extra ones are not read.
    ASSERT_EQ(runProgram("qpdf", {"--object-streams=generate", "--compress-streams=n", dir.filePath("good.pdf"),
                                  dir.filePath("stream.pdf")}),
              0);
    damagedCopy(dir.filePath("stream.pdf"), dir.filePath("xref-stream-size.pdf"),
                "m=list(re.finditer(rb'/Size (\\d+)',d))[-1]; n=int(m.group(1)); d[m.start(1):m.end(1)]=b'%d'%(n-1)");
    for (const char* name : {"good", "duplicated-key", "object-count", "bytes-before-header", "no-endstream", "no-table",
                             "page-twice", "long-glyph-text", "xref-stream-size", "bad-hex-in-cmap", "link-to-nowhere",
                             "entry-on-subsection-line", "no-endobj", "picture-without-end"}) {
        const QString path = dir.filePath(QString::fromLatin1(name) + ".pdf");
        // The oracles read it: pdftotext finds the words, qpdf succeeds, with warnings at most.
        QByteArray text;
        runProgram("pdftotext", {path, "-"}, &text);
        EXPECT_TRUE(text.contains("Hello world")) << name;
        EXPECT_NE(runProgram("qpdf", {"--check", path}), 2) << name;

        EXPECT_EQ(PDFEngine::plainText(path),
                  QString::fromLatin1(name) == "page-twice" ? "Hello world\n\nHello world" : "Hello world")
            << name;
        const QStringList sentences = roadsOverWhole(path);
        for (qsizetype i = 0; i < sentences.size(); ++i) {
            // Compress may find nothing to gain in so small a file.
            if (sentences[i] != "Already as small as it gets") {
                EXPECT_EQ(sentences[i], "<no failure>") << name << ", road " << i;
            }
        }
    }
    // Encrypted without an identifier in its trailer: the key is made with an empty one, as qpdf
    // and poppler make it, and every page draws.
    const QString scanned = dir.filePath("no-id.pdf");
    ASSERT_TRUE(QFile::copy(QStringLiteral(QV_SOURCE_DIR "/tests/files/pdf/encrypted-without-id.pdf"), scanned));
    EXPECT_EQ(PDFEngine::open(scanned).pageCount(), 3);
    for (int page = 0; page < 3; ++page)
        EXPECT_FALSE(PDFEngine::renderPage(PDFEngine::open(scanned), page, 36).isNull()) << page;
    {
        WorkBench bench;
        const QUrl pictures = PDFEngine::pagesToImages(scanned, std::nullopt, ImageOutput::png, std::nullopt, 36,
                                                       SettingsSnapshot{}, bench.work(scanned));
        EXPECT_TRUE(QFileInfo(pictures.toLocalFile()).exists());
    }

    for (const char* name : {"cut", "missing-object"}) {
        const QString path = dir.filePath(QString::fromLatin1(name) + ".pdf");
        EXPECT_EQ(failureOf([&] { PDFEngine::open(path); }), kDamaged) << name;
        EXPECT_EQ(failureOf([&] { PDFRenderer::open(path, std::nullopt)->render(0, 72); }), kDamaged) << name;
    }
    EXPECT_EQ(failureOf([&] { PDFRenderer::open(dir.filePath("picture-cut.pdf"), std::nullopt)->render(0, 72); }),
              kDamaged);
}

// A font MuPDF cannot load is drawn with a stand-in and a note; but where the file itself is
// damaged there (an embedded font that is no stream at all), the stand-in would hide the damage.
TEST(PdfDamage, AnEmbeddedFontTheFileLostIsDamageWhereAFontMuPdfCannotLoadGetsAStandIn)
{
    QTemporaryDir dir;
    const auto withFontFile = [&](const QString& name, const QByteArray& fontFile) {
        const QByteArray content = "BT /F1 24 Tf 72 700 Td (Hello world) Tj ET";
        return writeObjectsPdf(dir.filePath(name),
            {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
             "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R"
             " /Resources << /Font << /F1 5 0 R >> >> >>",
             "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream",
             "<< /Type /Font /Subtype /TrueType /BaseFont /Harbour /FirstChar 32 /LastChar 126 /Widths ["
                 + QByteArray("500 ").repeated(95) + "] /FontDescriptor 6 0 R >>",
             "<< /Type /FontDescriptor /FontName /Harbour /Flags 32 /FontBBox [0 0 1000 1000] /ItalicAngle 0"
             " /Ascent 800 /Descent -200 /CapHeight 700 /StemV 80 /FontFile2 7 0 R >>",
             fontFile});
    };
    withFontFile("lost.pdf", "<< /Length1 100 >>");
    const QByteArray words = "Not a TrueType font, only words.";
    withFontFile("unreadable.pdf", "<< /Length " + QByteArray::number(words.size()) + " >>\nstream\n" + words + "\nendstream");
    const QString lost = dir.filePath("lost.pdf");
    EXPECT_EQ(failureOf([&] { PDFEngine::renderPage(PDFEngine::open(lost), 0, 72); }), kDamaged);
    WorkBench bench;
    EXPECT_EQ(failureOf([&] {
                  PDFEngine::pagesToImages(lost, std::nullopt, ImageOutput::png, std::nullopt, 72, SettingsSnapshot{},
                                           bench.work(lost));
              }),
              kDamaged);
    EXPECT_TRUE(bench.outputs().isEmpty());

    const QString unreadable = dir.filePath("unreadable.pdf");
    QByteArray text;
    runProgram("pdftotext", {unreadable, "-"}, &text);
    EXPECT_TRUE(text.contains("Hello world"));
    std::unique_ptr<PDFRenderer> renderer = PDFRenderer::open(unreadable, std::nullopt);
    EXPECT_EQ(failureOf([&] { renderer->render(0, 72); }), "<no failure>");
    EXPECT_TRUE(renderer->drewStandIns());
}
