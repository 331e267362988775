#include "catalogue/adapters/DocumentPlannerAdapter.h"
#include "documents/DocumentConversion.h"
#include "documents/model/DocumentMetadata.h"
#include "documents/office/OfficeConverter.h"
#include "documents/writers/DocumentOutput.h"
#include "documents/writers/ZipPackageWriter.h"
#include "jobs/OutputPlanner.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/errors/JobFailure.h"
#include "model/operations/Capabilities.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/processes/ChildProcess.h"
#include "platform/processes/ProcessRunner.h"
#include "support/SmallDisk.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTextDocumentWriter>

#include <thread>

using namespace qv;
using namespace qv::test;

namespace {

// Points the shared record at another LibreOffice program while it lives.
class ProgramOverride {
public:
    explicit ProgramOverride(const QString& program)
    {
        qputenv("QUORVENDA_SOFFICE", program.toUtf8());
        Capabilities::shared().refreshExternalApps(true);
    }
    ~ProgramOverride()
    {
        qunsetenv("QUORVENDA_SOFFICE");
        Capabilities::shared().refreshExternalApps(true);
    }
};

// A temporary root of the test's own: other test programs run LibreOffice at the same time.
class PrivateCacheHome {
public:
    PrivateCacheHome() : m_old(qgetenv("XDG_CACHE_HOME")) { qputenv("XDG_CACHE_HOME", m_dir.path().toUtf8()); }
    ~PrivateCacheHome() { qputenv("XDG_CACHE_HOME", m_old); }

private:
    QTemporaryDir m_dir;
    QByteArray m_old;
};

QStringList sofficeFolders()
{
    return QDir(TemporaryRoot::path()).entryList({"soffice-*"}, QDir::AllEntries | QDir::Hidden);
}

// A stand-in that logs its arguments and environment, then behaves as the script says.
QString writeFake(const QString& folder, const QByteArray& behaviour)
{
    const QString path = folder + "/soffice";
    writeFile(path, "#!/bin/sh\ncase \"$*\" in *--terminate_after_init*) exit 0;; esac\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + folder.toUtf8() + "/args'\n"
                    "env > '" + folder.toUtf8() + "/env'\n" + behaviour);
    QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
    return path;
}

struct Item {
    OperationContext context;
    std::unique_ptr<OutputPlanner> planner;
    Progress progress{100};

    explicit Item(const QStringList& paths)
    {
        for (const QString& path : paths)
            context.files.append(fileInfoForURL(QUrl::fromLocalFile(path)));
        context.notes = std::make_shared<JobNotes>();
        planner = std::make_unique<OutputPlanner>(QUrl::fromLocalFile(paths.first()), context.settings, context.notes);
    }
};

QString pdfText(const QString& pdf)
{
    QByteArray out;
    runProgram("pdftotext", {pdf, "-"}, &out);
    return QString::fromUtf8(out);
}

} // namespace

TEST(LibreOfficeRoad, CommandLineEnvironmentAndPrivateFolder)
{
    const PrivateCacheHome cache;
    QTemporaryDir dir;
    const QString converted = writePdf(dir.filePath("converted.pdf"));
    const QString fake = writeFake(dir.path(),
                                   "while [ $# -gt 1 ]; do if [ \"$1\" = --outdir ]; then out=\"$2\"; fi; shift; done\n"
                                   "[ -n \"$out\" ] && cp '" + converted.toUtf8() + "' \"$out/input.pdf\"\nexit 0\n");
    const ProgramOverride program(fake);
    const QString input = writeFile(dir.filePath("input.odt"), "x");
    const QString output = dir.filePath("output.pdf");
    OfficeConverter::convertWithLibreOffice(QUrl::fromLocalFile(input), QUrl::fromLocalFile(output), "pdf", {});
    EXPECT_EQ(readFile(output), readFile(converted));

    const QStringList args = QString::fromUtf8(readFile(dir.filePath("args"))).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(args.size(), 11) << args.join(' ').toStdString();
    EXPECT_EQ(args.mid(0, 5), (QStringList{"--headless", "--norestore", "--nologo", "--nodefault", "--nolockcheck"}));
    const QRegularExpression profile("^-env:UserInstallation=file:///.+/soffice-[0-9a-f-]{36}/profile$");
    EXPECT_TRUE(profile.match(args[5]).hasMatch()) << args[5].toStdString();
    EXPECT_EQ(args.mid(6, 2), (QStringList{"--convert-to", "pdf"}));
    EXPECT_EQ(args[8], "--outdir");
    EXPECT_TRUE(args[9].endsWith("/out") && args[9].contains("/soffice-"));
    EXPECT_EQ(args[10], input);
    const QString env = QString::fromUtf8(readFile(dir.filePath("env")));
    EXPECT_TRUE(env.contains("\nPATH=/usr/bin:/bin\n") || env.startsWith("PATH=/usr/bin:/bin\n"));
    EXPECT_TRUE(env.contains("HOME=" + QDir::homePath()));
    EXPECT_FALSE(env.contains("QUORVENDA_SOFFICE"));
    EXPECT_TRUE(sofficeFolders().isEmpty()) << sofficeFolders().join(' ').toStdString();
}

TEST(LibreOfficeRoad, NothingWrittenHangsAndCancelsAllFail)
{
    const PrivateCacheHome cache;
    QTemporaryDir dir;
    const QString input = writeFile(dir.filePath("input.odt"), "x");
    const QUrl output = QUrl::fromLocalFile(dir.filePath("output.pdf"));
    {
        const ProgramOverride program(writeFake(dir.path(), "exit 0\n"));
        try {
            OfficeConverter::convertWithLibreOffice(QUrl::fromLocalFile(input), output, "pdf", {});
            FAIL();
        } catch (const EngineError& error) {
            EXPECT_EQ(error.message(), "LibreOffice couldn't convert this file");
        }
        try {
            OfficeConverter::convertWithLibreOffice(QUrl::fromLocalFile(input), output, "pages", {});
            FAIL();
        } catch (const EngineError& error) {
            EXPECT_EQ(error.message(), "LibreOffice can't write PAGES");
        }
    }
    {
        // A dialog nobody answers: the run is stopped at the limit.
        const ProgramOverride program(writeFake(dir.path(), "touch '" + dir.path().toUtf8() + "/started'\nexec sleep 600\n"));
        const auto saved = OfficeConverter::timeLimit;
        OfficeConverter::timeLimit = std::chrono::seconds(1);
        try {
            OfficeConverter::convertWithLibreOffice(QUrl::fromLocalFile(input), output, "pdf", {});
            FAIL();
        } catch (const EngineError& error) {
            EXPECT_EQ(error.message(), "LibreOffice couldn't convert this file");
            EXPECT_TRUE(error.log().contains("timed out")) << error.log().toStdString();
        }
        OfficeConverter::timeLimit = saved;

        // Cancelling ends the run as soon as it has started.
        QFile::remove(dir.filePath("started"));
        std::stop_source stop;
        std::thread canceller([&] {
            waitFor([&] { return QFile::exists(dir.filePath("started")); });
            stop.request_stop();
        });
        EXPECT_THROW(OfficeConverter::convertWithLibreOffice(QUrl::fromLocalFile(input), output, "pdf", stop.get_token()),
                     CancellationError);
        canceller.join();
    }
    EXPECT_FALSE(QFile::exists(output.toLocalFile()));
    EXPECT_TRUE(sofficeFolders().isEmpty());
    QByteArray sleeping;
    runProgram("pgrep", {"-f", "sleep 600"}, &sleeping);
    EXPECT_TRUE(sleeping.isEmpty());
}

// LibreOffice would repair the package and convert what it could read.
TEST(LibreOfficeRoad, APackageWithADamagedPartIsRefusedBeforeLibreOfficeRuns)
{
    const PrivateCacheHome cache;
    QTemporaryDir dir;
    const QString sound = dir.filePath("sound.pptx");
    {
        ZipPackageWriter zip(sound, {});
        zip.add("[Content_Types].xml", "<Types/>", ZipPackageWriter::Method::deflated);
        zip.add("ppt/slides/slide1.xml", "<p:sld>the only slide</p:sld>", ZipPackageWriter::Method::stored);
        zip.finish();
    }
    QByteArray bytes = readFile(sound);
    const qsizetype text = bytes.indexOf("the only slide");
    ASSERT_GT(text, 0);
    bytes[text] = 'T';
    const QString damaged = writeFile(dir.filePath("damaged.pptx"), bytes);
    // An old Word file under a new name is no zip: LibreOffice reads it by its content.
    const QString renamed = writeFile(dir.filePath("renamed.docx"), QByteArray("\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1", 8));
    const ProgramOverride program(writeFake(dir.path(), "exit 0\n"));
    const QUrl output = QUrl::fromLocalFile(dir.filePath("output.pdf"));
    const auto convert = [&](const QString& input) {
        QFile::remove(dir.filePath("args"));
        try {
            OfficeConverter::convertWithLibreOffice(QUrl::fromLocalFile(input), output, "pdf", {});
        } catch (const EngineError& error) {
            return error.message();
        }
        return QString();
    };

    EXPECT_EQ(convert(damaged), "This file is damaged or not in a supported format");
    EXPECT_FALSE(QFile::exists(dir.filePath("args"))) << "LibreOffice was started";
    for (const QString& input : {sound, renamed}) {
        EXPECT_EQ(convert(input), "LibreOffice couldn't convert this file") << qPrintable(input);
        EXPECT_TRUE(QFile::exists(dir.filePath("args"))) << qPrintable(input);
    }
    EXPECT_FALSE(QFile::exists(output.toLocalFile()));
}

// LibreOffice ends with status 0 whatever became of the file it wrote; its words on standard
// error and the file itself tell.
TEST(LibreOfficeRoad, AConversionLibreOfficeCouldNotFinishFails)
{
    const PrivateCacheHome cache;
    QTemporaryDir dir;
    const QString input = writeFile(dir.filePath("input.odt"), "x");
    const QString pdf = writePdf(dir.filePath("whole.pdf"));
    const QByteArray pdfBytes = readFile(pdf);
    ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", "import sys, zipfile\n"
                                                    "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
                                                    "    z.writestr('word/document.xml', 'w' * 100000)\n",
                                              dir.filePath("whole.docx")}),
              0);
    const QByteArray docxBytes = readFile(dir.filePath("whole.docx"));
    struct Case {
        const char* target;
        QByteArray written; // what the stand-in leaves as its result
        QByteArray said;    // on standard error
        const char* message;
    };
    const Case cases[] = {
        {"pdf", pdfBytes.left(pdfBytes.size() / 3), "", "LibreOffice couldn't convert this file"},
        {"docx", docxBytes.left(docxBytes.size() - 30), "", "LibreOffice couldn't convert this file"},
        {"rtf", "{\\rtf1\\ansi Cut he", "", "LibreOffice couldn't convert this file"},
        {"doc", "not a compound file", "", "LibreOffice couldn't convert this file"},
        {"html", "<html><body><p>Cut", "", "LibreOffice couldn't convert this file"},
        {"pdf", pdfBytes, "Error: Please verify input parameters... (SfxBaseModel::impl_store failed: 0xc10)",
         "LibreOffice couldn't convert this file"},
        {"pdf", pdfBytes.left(100), "write error: No space left on device", "Not enough disk space"},
    };
    for (const Case& c : cases) {
        const QString result = dir.filePath(QStringLiteral("result.") + c.target);
        writeFile(result, c.written);
        const ProgramOverride program(writeFake(
            dir.path(), "while [ $# -gt 1 ]; do if [ \"$1\" = --outdir ]; then out=\"$2\"; fi; shift; done\n"
                        "cp '" + result.toUtf8() + "' \"$out/input." + c.target + "\"\necho '" + c.said + "' >&2\nexit 0\n"));
        const QString output = dir.filePath(QStringLiteral("output.") + c.target);
        try {
            OfficeConverter::convertWithLibreOffice(QUrl::fromLocalFile(input), QUrl::fromLocalFile(output), c.target, {});
            ADD_FAILURE() << c.target << ": a broken result passed";
        } catch (...) {
            EXPECT_EQ(jobFailure(std::current_exception()).message, c.message) << c.target;
        }
        EXPECT_FALSE(QFile::exists(output)) << c.target;
    }
    EXPECT_TRUE(sofficeFolders().isEmpty());

    // What LibreOffice says when its store fails on a full disk; it removes the file itself.
    SmallDisk disk(512 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    const QByteArray cacheHome = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", disk.path().toUtf8());
    ASSERT_TRUE(disk.fillLeaving(64 * 1024));
    const ProgramOverride program(writeFake(
        dir.path(), "echo 'Error: Please verify input parameters... (SfxBaseModel::impl_store <file:///x/out/input.pdf> "
                    "failed: 0x20d(Error Area:Io Class:General Code:13)' >&2\nexit 0\n"));
    QString message;
    try {
        OfficeConverter::convertWithLibreOffice(QUrl::fromLocalFile(input), QUrl::fromLocalFile(dir.filePath("full.pdf")),
                                                "pdf", {});
    } catch (...) {
        message = jobFailure(std::current_exception()).message;
    }
    qputenv("XDG_CACHE_HOME", cacheHome);
    EXPECT_EQ(message, "Not enough disk space");
}

TEST(LibreOfficeRoad, AtMostTwoRunsAtOnce)
{
    QTemporaryDir dir;
    const QString gate = dir.filePath("go");
    const ProgramOverride program(writeFake(dir.path(), "while [ ! -e '" + gate.toUtf8() + "' ]; do sleep 0.05; done\nexit 0\n"));
    const QString input = writeFile(dir.filePath("input.odt"), "x");
    std::vector<std::thread> runs;
    std::atomic<int> failed{0};
    for (int i = 0; i < 3; ++i)
        runs.emplace_back([&, i] {
            try {
                OfficeConverter::convertWithLibreOffice(QUrl::fromLocalFile(input),
                                                        QUrl::fromLocalFile(dir.filePath(QString::number(i))), "pdf", {});
            } catch (const EngineError&) {
                ++failed;
            }
        });
    EXPECT_TRUE(waitFor([] { return OfficeConverter::runningCount() == 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(OfficeConverter::runningCount(), 2);
    writeFile(gate, "");
    for (auto& run : runs)
        run.join();
    EXPECT_EQ(failed, 3); // the stand-in writes nothing
    EXPECT_EQ(OfficeConverter::runningCount(), 0);
}

// The real program, a few runs only: each costs seconds.
TEST(LibreOfficeRoad, WordFilesBothWays)
{
    if (!Capabilities::shared().libreOfficeURL())
        GTEST_SKIP() << "LibreOffice is not installed";
    const PrivateCacheHome cache;
    QTemporaryDir dir;
    // A DOC as LibreOffice itself writes one.
    QTextDocument text;
    text.setPlainText("Quarterly numbers were steady");
    QTextDocumentWriter odt(dir.filePath("source.odt"), "odf");
    ASSERT_TRUE(odt.write(&text));
    OfficeConverter::convertWithLibreOffice(QUrl::fromLocalFile(dir.filePath("source.odt")),
                                            QUrl::fromLocalFile(dir.filePath("old.doc")), "doc", {});

    Item toPdf({dir.filePath("old.doc")});
    const QUrl pdf = DocumentConversion::convertDocument(toPdf.context.files.first(), DocumentOutput::pdf, toPdf.context,
                                                         documentPlanner(*toPdf.planner), toPdf.progress);
    EXPECT_EQ(pdf.toLocalFile(), dir.filePath("old.pdf"));
    EXPECT_TRUE(pdfText(pdf.toLocalFile()).contains("Quarterly numbers were steady"));

    Item toDoc({writeFile(dir.filePath("memo.md"), "# Memo\n\nPlease read this\n")});
    const QUrl doc = DocumentConversion::convertDocument(toDoc.context.files.first(), DocumentOutput::doc, toDoc.context,
                                                         documentPlanner(*toDoc.planner), toDoc.progress);
    EXPECT_EQ(doc.toLocalFile(), dir.filePath("memo.doc"));
    OfficeConverter::convertWithLibreOffice(doc, QUrl::fromLocalFile(dir.filePath("back.txt")), "txt", {});
    EXPECT_TRUE(readFile(dir.filePath("back.txt")).contains("Please read this"));

    // Metadata removal rewrites an RTF through the same road.
    writeFile(dir.filePath("y.rtf"), "{\\rtf1\\ansi{\\info{\\author Alice}}Plain words\\par}");
    Item strip({dir.filePath("y.rtf")});
    const QUrl clean = DocumentMetadata::removeDocumentMetadata(strip.context.files.first(), strip.context, documentPlanner(*strip.planner));
    EXPECT_EQ(clean.toLocalFile(), dir.filePath("y (no metadata).rtf"));
    const QByteArray rtf = readFile(clean.toLocalFile());
    EXPECT_TRUE(rtf.startsWith("{\\rtf1") && rtf.contains("Plain words") && !rtf.contains("Alice"));
    EXPECT_TRUE(sofficeFolders().isEmpty());
}

namespace {

// Holds every program started from here to this much address space while it lives.
class ChildMemoryLimit {
public:
    explicit ChildMemoryLimit(qint64 bytes) : m_previous(ChildProcess::memoryLimit())
    {
        ChildProcess::setMemoryLimit(bytes);
    }
    ~ChildMemoryLimit() { ChildProcess::setMemoryLimit(m_previous); }

private:
    qint64 m_previous;
};

} // namespace

// Under a kilobyte, yet a thousand columns of a value repeated down every row: LibreOffice fills
// memory until it is stopped.
TEST(LibreOfficeRoad, ASheetThatRepeatsWithoutEndIsTooLargeToConvert)
{
    if (!Capabilities::shared().libreOfficeURL())
        GTEST_SKIP() << "LibreOffice is not installed";
    if (!QFile::exists(QStringLiteral("/usr/bin/python3")))
        GTEST_SKIP() << "no python3 to write the spreadsheet";
    PrivateCacheHome cache;
    QTemporaryDir dir;
    const QString ods = dir.filePath(QStringLiteral("repeats.ods"));
    const QString script = QStringLiteral(R"(import sys, zipfile
ns = 'xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"'
content = ('<?xml version="1.0" encoding="UTF-8"?><office:document-content ' + ns + ' office:version="1.2"><office:body><office:spreadsheet>'
  '<table:table table:name="Sheet1"><table:table-row table:number-rows-repeated="1048576">'
  '<table:table-cell table:number-columns-repeated="1024" office:value-type="float" office:value="1"><text:p>1</text:p></table:table-cell>'
  '</table:table-row></table:table></office:spreadsheet></office:body></office:document-content>')
manifest = ('<?xml version="1.0" encoding="UTF-8"?><manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" manifest:version="1.2">'
  '<manifest:file-entry manifest:full-path="/" manifest:media-type="application/vnd.oasis.opendocument.spreadsheet"/>'
  '<manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/></manifest:manifest>')
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    z.writestr(zipfile.ZipInfo('mimetype'), 'application/vnd.oasis.opendocument.spreadsheet')
    z.writestr('content.xml', content, compress_type=zipfile.ZIP_DEFLATED)
    z.writestr('META-INF/manifest.xml', manifest, compress_type=zipfile.ZIP_DEFLATED)
)");
    const ProcessRunner::Output made = ProcessRunner::run(QUrl::fromLocalFile(QStringLiteral("/usr/bin/python3")),
                                                          {QStringLiteral("-c"), script, ods}, {});
    ASSERT_EQ(made.status, 0) << qPrintable(made.stderrText());
    ASSERT_LT(QFileInfo(ods).size(), 2000);

    // Lower than the 4 GB default, so the test costs the machine less; LibreOffice starts in it.
    const ChildMemoryLimit limit(qint64(2048) << 20);
    const QString out = dir.filePath(QStringLiteral("repeats.xlsx"));
    try {
        OfficeConverter::convertWithLibreOffice(QUrl::fromLocalFile(ods), QUrl::fromLocalFile(out), "xlsx", {});
        FAIL() << "a billion cells were converted";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), QStringLiteral("This document is too large to convert")) << qPrintable(error.log());
    }
    EXPECT_FALSE(QFile::exists(out));
    EXPECT_TRUE(sofficeFolders().isEmpty());

    // An ordinary sheet still converts under the same limit.
    QTextDocument text;
    text.setPlainText("Budget");
    QTextDocumentWriter odt(dir.filePath("small.odt"), "odf");
    ASSERT_TRUE(odt.write(&text));
    OfficeConverter::convertWithLibreOffice(QUrl::fromLocalFile(dir.filePath("small.odt")),
                                            QUrl::fromLocalFile(dir.filePath("small.pdf")), "pdf", {});
    EXPECT_TRUE(pdfText(dir.filePath("small.pdf")).contains("Budget"));
}
