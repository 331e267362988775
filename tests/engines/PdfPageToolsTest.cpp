#include "support/PdfFixtures.h"
#include "support/SmallDisk.h"
#include "support/TestFiles.h"

#include "engines/pdf/PDFEngine.h"
#include "model/errors/EngineError.h"
#include "model/errors/JobFailure.h"
#include "model/errors/SystemError.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/resource.h>

using namespace qv;
using namespace qv::test;

namespace {

QStringList numbered(const QString& word, int count)
{
    QStringList texts;
    for (int i = 1; i <= count; ++i)
        texts.append(word + QString::number(i));
    return texts;
}

template <typename Call>
QString failureOf(WorkBench& bench, Call call)
{
    try {
        call();
    } catch (const EngineError& e) {
        // A refusal places nothing.
        EXPECT_TRUE(bench.outputs().isEmpty()) << bench.outputs().join(", ").toStdString();
        return e.message();
    } catch (const SystemError&) {
        EXPECT_TRUE(bench.outputs().isEmpty()) << bench.outputs().join(", ").toStdString();
        return jobFailure(std::current_exception()).message;
    }
    return QStringLiteral("<no error>");
}

class PdfPageTools : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString report;
    void SetUp() override { report = writeTextPdf(dir.filePath("report.pdf"), numbered("Page", 10)); }
};

} // namespace

TEST_F(PdfPageTools, MergesEveryPageInOrderFromLockedAndOpenInputs)
{
    const QString a = writeTextPdf(dir.filePath("a.pdf"), {"A1", "A2"});
    const QString b = lockedCopy(writeTextPdf(dir.filePath("b-open.pdf"), {"B1"}), dir.filePath("b.pdf"), "pw");
    const QByteArray before = readFile(b);
    WorkBench bench;
    QList<FileInfo> files(2);
    files[0].url = QUrl::fromLocalFile(a);
    files[1].url = QUrl::fromLocalFile(b);

    EXPECT_EQ(failureOf(bench, [&] { PDFEngine::merge(files, std::nullopt, bench.work(a)); }),
              "PDF is password-protected");
    const QUrl merged = PDFEngine::merge(files, QStringLiteral("pw"), bench.work(a));
    EXPECT_EQ(merged.fileName(), "a (merged).pdf");
    EXPECT_TRUE(qpdfCheckPasses(merged.toLocalFile()));
    EXPECT_EQ(pageTexts(merged.toLocalFile()), (QStringList{"A1", "A2", "B1"}));
    EXPECT_EQ(pdfinfoValue(merged.toLocalFile(), "Encrypted"), "no");
    EXPECT_EQ(readFile(b), before);
    EXPECT_EQ(bench.progress.completedUnitCount(), 90);
}

TEST_F(PdfPageTools, MergesMoreFilesThanMayBeOpenAtOnce)
{
    QList<FileInfo> files;
    for (int i = 0; i < 120; ++i) {
        FileInfo file;
        file.url = QUrl::fromLocalFile(writeTextPdf(dir.filePath(QStringLiteral("part%1.pdf").arg(i)),
                                                    {QStringLiteral("Piece %1").arg(i)}));
        files.append(file);
    }
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &before), 0);
    rlimit tight = before;
    tight.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    WorkBench bench;
    QUrl merged;
    try {
        merged = PDFEngine::merge(files, std::nullopt, bench.work(files.first().url.toLocalFile()));
    } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
    }
    setrlimit(RLIMIT_NOFILE, &before);
    const QStringList texts = pageTexts(merged.toLocalFile());
    ASSERT_EQ(texts.size(), 120);
    EXPECT_EQ(texts.first(), "Piece 0");
    EXPECT_EQ(texts.last(), "Piece 119");
}

TEST_F(PdfPageTools, SplitsIntoSeveralFilesOrOneRange)
{
    WorkBench every;
    const QUrl parts = PDFEngine::split(report, SplitMode::everyNPages(3), std::nullopt, every.work(report));
    EXPECT_EQ(parts.fileName(), "report (parts)");
    QStringList names = QDir(parts.toLocalFile()).entryList(QDir::Files);
    names.sort();
    EXPECT_EQ(names, (QStringList{"report (page 10).pdf", "report (pages 1-3).pdf",
                                  "report (pages 4-6).pdf", "report (pages 7-9).pdf"}));
    EXPECT_EQ(pageTexts(QDir(parts.toLocalFile()).filePath("report (pages 4-6).pdf")),
              (QStringList{"Page4", "Page5", "Page6"}));

    WorkBench range;
    const QUrl one = PDFEngine::split(report, SplitMode::ranges({{2, 4}}), std::nullopt, range.work(report));
    EXPECT_EQ(one.fileName(), "report (pages 2-4).pdf");
    EXPECT_EQ(pageTexts(one.toLocalFile()), (QStringList{"Page2", "Page3", "Page4"}));

    WorkBench outside;
    EXPECT_EQ(failureOf(outside, [&] {
                  PDFEngine::split(report, SplitMode::ranges({{11, 12}}), std::nullopt, outside.work(report));
              }),
              "Those pages aren't in this PDF");

    const QString single = writeTextPdf(dir.filePath("single.pdf"), {"Only"});
    WorkBench lone;
    EXPECT_EQ(PDFEngine::split(single, std::nullopt, std::nullopt, lone.work(single)).fileName(),
              "single (pages 1).pdf");
}

// A book of many pages is written on a few threads: every page in its own part, in its place,
// from a locked file as from an open one.
TEST_F(PdfPageTools, SplitsABookIntoEveryPage)
{
    const QString open = writeTextPdf(dir.filePath("book-open.pdf"), numbered("Leaf", 40));
    const QString book = lockedCopy(open, dir.filePath("book.pdf"), "pw");
    WorkBench bench;
    const QUrl parts = PDFEngine::split(book, std::nullopt, QStringLiteral("pw"), bench.work(book));
    const QDir folder(parts.toLocalFile());
    EXPECT_EQ(folder.entryList(QDir::Files).size(), 40);
    for (int page = 1; page <= 40; ++page) {
        const QString part = folder.filePath(QStringLiteral("book (page %1).pdf").arg(page));
        EXPECT_EQ(pageTexts(part), QStringList{QStringLiteral("Leaf%1").arg(page)}) << page;
        EXPECT_EQ(pdfinfoValue(part, "Encrypted"), "no") << page;
    }
    EXPECT_EQ(bench.progress.completedUnitCount(), 100);
    EXPECT_TRUE(bench.workLeftovers().isEmpty()) << bench.workLeftovers().join(", ").toStdString();
}

TEST_F(PdfPageTools, ReordersAndExtractsChosenPages)
{
    const QString three = writeTextPdf(dir.filePath("three.pdf"), {"One", "Two", "Three"});
    WorkBench reorder;
    const QUrl reordered = PDFEngine::reorder(three, std::nullopt, {2, 0, 1, 99}, false, reorder.work(three));
    EXPECT_EQ(reordered.fileName(), "three (reordered).pdf");
    EXPECT_EQ(pageTexts(reordered.toLocalFile()), (QStringList{"Three", "One", "Two"}));

    WorkBench repeat;
    const QUrl repeated = PDFEngine::reorder(three, std::nullopt, {2, 0, 0, 7}, false, repeat.work(three));
    EXPECT_EQ(pageTexts(repeated.toLocalFile()), (QStringList{"Three", "One", "One"}));
    EXPECT_TRUE(qpdfCheckPasses(repeated.toLocalFile()));

    WorkBench extract;
    EXPECT_EQ(PDFEngine::reorder(report, std::nullopt, {0, 1, 2, 6}, true, extract.work(report)).fileName(),
              "report (page 1-3, 7).pdf");
    WorkBench fifth;
    const QUrl five = PDFEngine::reorder(report, std::nullopt, {4}, true, fifth.work(report));
    EXPECT_EQ(five.fileName(), "report (page 5).pdf");
    EXPECT_EQ(pageTexts(five.toLocalFile()), QStringList{"Page5"});

    WorkBench none;
    EXPECT_EQ(failureOf(none, [&] { PDFEngine::reorder(report, std::nullopt, {}, true, none.work(report)); }),
              "No pages were chosen");
    EXPECT_EQ(failureOf(none, [&] { PDFEngine::reorder(report, std::nullopt, {-1, 10}, false, none.work(report)); }),
              "No pages were chosen");
}

TEST_F(PdfPageTools, RotatesEveryPageFromItsOwnTurn)
{
    FixtureDocument doc;
    doc.pages = {FixturePage{"Up", 612, 792, 270}, FixturePage{"Flat", 612, 792, 0}};
    const QString turned = writeFixturePdf(dir.filePath("turned.pdf"), doc);
    WorkBench bench;
    const QUrl rotated = PDFEngine::rotate(turned, std::nullopt, 90, bench.work(turned));
    EXPECT_EQ(rotated.fileName(), "turned (rotated).pdf");
    EXPECT_EQ(rotationOf(rotated.toLocalFile(), 1), 0);
    EXPECT_EQ(rotationOf(rotated.toLocalFile(), 2), 90);

    WorkBench back;
    const QUrl negative = PDFEngine::rotate(turned, std::nullopt, -90, back.work(turned));
    EXPECT_EQ(rotationOf(negative.toLocalFile(), 2), 270);

    WorkBench odd;
    const QUrl slanted = PDFEngine::rotate(turned, std::nullopt, 100, odd.work(turned));
    EXPECT_EQ(rotationOf(slanted.toLocalFile(), 2), 90);
    EXPECT_TRUE(qpdfCheckPasses(slanted.toLocalFile()));
}

TEST_F(PdfPageTools, ProtectsAndUnlocksWithThePassword)
{
    const QString invoice = writeTextPdf(dir.filePath("invoice.pdf"), {"Total 42"});
    const QString password = QStringLiteral("a \"quoted\" pass");
    WorkBench empty;
    EXPECT_EQ(failureOf(empty, [&] { PDFEngine::protect(invoice, QString(), empty.work(invoice)); }),
              "Enter a password");

    WorkBench protect;
    const QUrl locked = PDFEngine::protect(invoice, password, protect.work(invoice));
    EXPECT_EQ(locked.fileName(), "invoice (protected).pdf");
    EXPECT_TRUE(pageTexts(locked.toLocalFile()).isEmpty());
    EXPECT_EQ(pageTexts(locked.toLocalFile(), password), QStringList{"Total 42"});
    EXPECT_TRUE(pdfinfoValue(locked.toLocalFile(), "Encrypted", password).startsWith("yes"));
    EXPECT_TRUE(pdfinfoValue(locked.toLocalFile(), "Encrypted", password).contains("AES-256"));

    WorkBench again;
    EXPECT_EQ(failureOf(again, [&] { PDFEngine::protect(locked.toLocalFile(), "x", again.work(locked.toLocalFile())); }),
              "PDF is password-protected");

    WorkBench wrong;
    EXPECT_EQ(failureOf(wrong, [&] { PDFEngine::unlock(locked.toLocalFile(), "wrong", wrong.work(locked.toLocalFile())); }),
              "That password didn't unlock the PDF");
    WorkBench unlock;
    const QUrl open = PDFEngine::unlock(locked.toLocalFile(), password, unlock.work(locked.toLocalFile()));
    EXPECT_EQ(open.fileName(), "invoice (protected) (unlocked).pdf");
    EXPECT_EQ(pdfinfoValue(open.toLocalFile(), "Encrypted"), "no");
    EXPECT_EQ(pageTexts(open.toLocalFile()), QStringList{"Total 42"});

    // A locked file with unused objects written as nothing, which every reader takes for null.
    const QString dummies = dir.filePath("dummies.pdf");
    ASSERT_TRUE(QFile::copy(QStringLiteral(QV_SOURCE_DIR "/tests/files/pdf/empty-objects-locked.pdf"), dummies));
    WorkBench unlockDummies;
    EXPECT_EQ(failureOf(unlockDummies, [&] { PDFEngine::unlock(dummies, "Hello", unlockDummies.work(dummies)); }),
              "<no error>");
    ASSERT_EQ(unlockDummies.outputs(), QStringList{"dummies (unlocked).pdf"});
    const QString unlocked = unlockDummies.outDir + "/dummies (unlocked).pdf";
    EXPECT_TRUE(qpdfCheckPasses(unlocked));
    EXPECT_EQ(pdfinfoValue(unlocked, "Encrypted"), "no");
    EXPECT_EQ(pdfinfoValue(unlocked, "Pages"), "1");
}

// Unlock without a password asks for one when the file needs it, and unlocks a file locked only
// against changes. A PDF 2.0 password is stored SASLprep-normalised: typed with a compatibility
// character and a soft hyphen, it opens the file all the same.
TEST_F(PdfPageTools, UnlockAsksForAMissingPasswordAndPreparesOneAsPdf2Does)
{
    const QString invoice = writeTextPdf(dir.filePath("invoice.pdf"), {"Total 42"});
    const QString locked = dir.filePath("locked.pdf");
    ASSERT_EQ(runProgram("qpdf", {"--encrypt", "SaSLprep", "owner", "256", "--", invoice, locked}), 0);
    const QString typed = QString::fromUtf8("S\u00aaSL\u00adprep");
    // What qpdf itself refuses as typed.
    EXPECT_NE(runProgram("qpdf", {"--password=" + typed, "--check", locked}), 0);

    WorkBench none;
    EXPECT_EQ(failureOf(none, [&] { PDFEngine::unlock(locked, QString(), none.work(locked)); }),
              "PDF is password-protected");
    WorkBench unlock;
    const QUrl open = PDFEngine::unlock(locked, typed, unlock.work(locked));
    EXPECT_EQ(pdfinfoValue(open.toLocalFile(), "Encrypted"), "no");
    EXPECT_EQ(pageTexts(open.toLocalFile()), QStringList{"Total 42"});

    const QString ownerOnly = dir.filePath("owner-only.pdf");
    ASSERT_EQ(runProgram("qpdf", {"--encrypt", "", "owner", "256", "--print=none", "--", invoice, ownerOnly}), 0);
    WorkBench free;
    const QUrl freed = PDFEngine::unlock(ownerOnly, QString(), free.work(ownerOnly));
    EXPECT_EQ(pdfinfoValue(freed.toLocalFile(), "Encrypted"), "no");
}

// The older revisions keep a password in PDFDocEncoding: one typed with letters beyond ASCII
// ("hôtel") opens RC4 40 and 128-bit and AES-128 files, and their pages draw.
TEST_F(PdfPageTools, APasswordWithAccentsUnlocksEveryRevision)
{
    const QString invoice = writeTextPdf(dir.filePath("invoice.pdf"), {"Total 42"});
    const QString password = QString::fromUtf8("h\u00f4tel");
    const QList<QStringList> revisions{{"40"}, {"128", "--use-aes=n"}, {"128", "--use-aes=y"}, {"256"}};
    for (const QStringList& revision : revisions) {
        const QString locked = dir.filePath("locked " + revision.join(' ') + ".pdf");
        ASSERT_EQ(runProgram("qpdf", QStringList{"--allow-weak-crypto", "--encrypt", password, password} + revision
                                         + QStringList{"--", invoice, locked}),
                  0);
        // The oracle takes the password as typed.
        ASSERT_EQ(runProgram("qpdf", {"--password=" + password, "--check", locked}), 0) << revision.join(' ').toStdString();
        WorkBench unlock;
        const QUrl open = PDFEngine::unlock(locked, password, unlock.work(locked));
        EXPECT_EQ(pageTexts(open.toLocalFile()), QStringList{"Total 42"}) << revision.join(' ').toStdString();
        EXPECT_FALSE(PDFEngine::renderPage(PDFEngine::open(locked, password), 0, 36).isNull());
        WorkBench wrong;
        EXPECT_EQ(failureOf(wrong, [&] { PDFEngine::unlock(locked, QStringLiteral("hotel"), wrong.work(locked)); }),
                  "That password didn't unlock the PDF");
    }
}

TEST_F(PdfPageTools, DamagedInputAndFullDiskLeaveNothing)
{
    const QString junk = writeJunkPdf(dir.filePath("junk.pdf"));
    WorkBench bench;
    EXPECT_EQ(failureOf(bench, [&] { PDFEngine::split(junk, std::nullopt, std::nullopt, bench.work(junk)); }),
              "This file is damaged or not in a supported format");

    SmallDisk disk(64 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "needs root to mount a tmpfs";
    const QString big = writeFixturePdf(dir.filePath("big.pdf"), [] {
        FixtureDocument doc;
        doc.pages = {FixturePage{"Photo", 612, 792, 0, photoImage(600, 600)}};
        return doc;
    }());
    WorkBench full;
    PDFWork work = full.work(big);
    const QString diskPath = disk.path();
    work.workFile = [diskPath](const QString& extension) {
        return QUrl::fromLocalFile(QDir(diskPath).filePath("result." + extension));
    };
    EXPECT_EQ(failureOf(full, [&] { PDFEngine::rotate(big, std::nullopt, 90, work); }), "Not enough disk space");
    EXPECT_FALSE(QFile::exists(disk.filePath("result.pdf")));

    // Parts written on several threads: the disk fills under one of them, and the split fails.
    const QString album = writeFixturePdf(dir.filePath("album.pdf"), [] {
        FixtureDocument doc;
        for (int i = 0; i < 24; ++i)
            doc.pages.append(FixturePage{QStringLiteral("Photo %1").arg(i), 612, 792, 0, photoImage(300 + i, 300)});
        return doc;
    }());
    WorkBench parts;
    PDFWork split = parts.work(album);
    split.workFolder = [diskPath](const QString& name) {
        QDir().mkpath(QDir(diskPath).filePath(name));
        return QUrl::fromLocalFile(QDir(diskPath).filePath(name));
    };
    EXPECT_EQ(failureOf(parts, [&] { PDFEngine::split(album, std::nullopt, std::nullopt, split); }),
              "Not enough disk space");
}
