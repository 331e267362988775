#include "app/actions/CopiedFilesHandling.h"
#include "jobs/Toasts.h"
#include "model/files/NativeFileName.h"
#include "platform/clipboard/CopiedFiles.h"
#include "support/FakeClipboardReader.h"
#include "support/LogCapture.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>

#include <cstdio>

using namespace qv;

namespace {

class RecordingToasts : public ToastPresenter {
public:
    RecordingToasts() { setToastPresenter(this); }
    ~RecordingToasts() override { setToastPresenter(nullptr); }
    void show(const Toast& toast) override { toasts.append(toast); }
    QList<Toast> toasts;
};

class CopiedFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        a = test::writeFile(dir.filePath(QStringLiteral("a photo.jpg")));
        b = test::writeFile(dir.filePath(QStringLiteral("b.png")));
        folder = dir.filePath(QStringLiteral("folder"));
        test::writeFile(folder + QStringLiteral("/inside.txt"));
        setCopiedFilesHandler([this](const QList<QUrl>& urls) { opened.append(urls); });
    }
    void TearDown() override { setCopiedFilesHandler({}); }

    QByteArray url(const QString& path) const { return QUrl::fromLocalFile(path).toEncoded(); }

    QTemporaryDir dir;
    QString a, b, folder;
    QList<QList<QUrl>> opened;
    test::FakeClipboardReader reader;
    RecordingToasts toasts;
};

} // namespace

TEST_F(CopiedFiles, FileListsOnTheClipboard)
{
    // A uri-list with a comment, CRLF line ends, a folder, a web address and a missing file.
    reader.clipboard.setData(QStringLiteral("text/uri-list"),
                             "# copied\r\n" + url(b) + "\r\nhttps://example.com/x.png\r\n" + url(a)
                                 + "\r\n" + url(folder) + "\r\n" + url(dir.filePath("gone.jpg"))
                                 + "\r\n" + url(b) + "\r\n");
    const QList<QUrl> expected{QUrl::fromLocalFile(b), QUrl::fromLocalFile(a),
                               QUrl::fromLocalFile(folder)};
    EXPECT_EQ(readCopiedFiles(reader), CopiedFilesResult::paths(expected));

    convertCopiedFiles(reader);
    EXPECT_EQ(opened, QList<QList<QUrl>>{expected});
    EXPECT_TRUE(toasts.toasts.isEmpty());

    // The file managers' own form, copied and cut alike.
    for (const QByteArray& verb : {QByteArray("copy"), QByteArray("cut")}) {
        QMimeData gnome;
        gnome.setData(QStringLiteral("x-special/gnome-copied-files"),
                      verb + "\n" + url(a) + "\n" + url(b));
        EXPECT_EQ(copiedFileUrls(gnome), (QList<QUrl>{QUrl::fromLocalFile(a), QUrl::fromLocalFile(b)}))
            << verb.constData();
    }
    QMimeData unknownVerb;
    unknownVerb.setData(QStringLiteral("x-special/gnome-copied-files"), url(a));
    EXPECT_TRUE(copiedFileUrls(unknownVerb).isEmpty());

    // "localhost", doubled slashes and ".." name the same file; other hosts name files
    // elsewhere.
    const QByteArray encodedA = QUrl::fromLocalFile(a).path(QUrl::FullyEncoded).toUtf8();
    QMimeData hosts;
    hosts.setData(QStringLiteral("text/uri-list"),
                  "file://localhost" + encodedA + "\nfile://far.example.org" + encodedA
                      + "\nfile:///" + encodedA + "\nfile://" + encodedA + "\n"
                      + url(folder + QStringLiteral("/../b.png")));
    EXPECT_EQ(copiedFileUrls(hosts),
              (QList<QUrl>{QUrl::fromLocalFile(a), QUrl::fromLocalFile(b)}));

    // Plain text counts only when it is nothing but file URLs.
    QMimeData text;
    text.setText(QString::fromUtf8(url(a)));
    EXPECT_EQ(copiedFileUrls(text), QList<QUrl>{QUrl::fromLocalFile(a)});
    text.setText(QStringLiteral("see ") + QString::fromUtf8(url(a)));
    EXPECT_TRUE(copiedFileUrls(text).isEmpty());
    text.setText(a);
    EXPECT_TRUE(copiedFileUrls(text).isEmpty());
}

TEST_F(CopiedFiles, PrimaryStandsInAndNothingGivesTheToast)
{
    // Only web addresses on the clipboard: the primary selection's files count.
    reader.clipboard.setData(QStringLiteral("text/uri-list"), "https://example.com/a.jpg\n");
    reader.primary.setData(QStringLiteral("text/uri-list"), url(a));
    EXPECT_EQ(readCopiedFiles(reader), CopiedFilesResult::paths({QUrl::fromLocalFile(a)}));

    // Neither holds files: no wheel, the toast that says what to do.
    reader.primary.clear();
    reader.primary.setText(QStringLiteral("some words"));
    convertCopiedFiles(reader);
    EXPECT_TRUE(opened.isEmpty());
    ASSERT_EQ(toasts.toasts.size(), 1);
    EXPECT_EQ(toasts.toasts[0].text, QStringLiteral("Copy files in your file manager first"));
    EXPECT_EQ(toasts.toasts[0].symbol, QStringLiteral("cursorarrow.click.2"));
    EXPECT_EQ(toasts.toasts[0].seconds, 3.0);
    EXPECT_FALSE(toasts.toasts[0].onClick);
}

TEST_F(CopiedFiles, AnUnreadableClipboardIsLoggedAndToasted)
{
    reader.available = false;
    test::LogCapture log;
    convertCopiedFiles(reader);
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_TRUE(log.contains(QStringLiteral("quorvenda.app"),
                             QStringLiteral("Copied Files failed: No clipboard is available")));
    ASSERT_EQ(toasts.toasts.size(), 1);
    EXPECT_EQ(toasts.toasts[0].text, QStringLiteral("Couldn't read the Copied Files"));
    EXPECT_EQ(toasts.toasts[0].symbol, QStringLiteral("exclamationmark.triangle"));
}

TEST_F(CopiedFiles, ANameThatIsNotUtf8IsNeverTakenForItsTwin)
{
    // "x\xff.jpg" beside "x\uFFFD.jpg", which is what Qt's text makes of the first.
    const QByteArray folderBytes = QFile::encodeName(dir.path());
    const QString twin = test::writeFile(dir.filePath(QString::fromUtf8("x\xef\xbf\xbd.jpg")), "twin");
    const QByteArray oddPath = folderBytes + "/x\xff.jpg";
    FILE* made = std::fopen(oddPath.constData(), "wb");
    ASSERT_NE(made, nullptr);
    std::fputs("odd", made);
    std::fclose(made);
    const QByteArray encodedFolder = QUrl::fromLocalFile(dir.path()).toEncoded();

    for (const QByteArray& format : {QByteArray("text/uri-list"), QByteArray("x-special/gnome-copied-files")}) {
        QMimeData data;
        const QByteArray head = format == "text/uri-list" ? QByteArray() : QByteArray("copy\n");
        data.setData(QString::fromLatin1(format), head + encodedFolder + "/x%FF.jpg\n" + encodedFolder + "/x%EF%BF%BD.jpg\n");
        const QList<QUrl> urls = copiedFileUrls(data);
        ASSERT_EQ(urls.size(), 2) << format.constData();
        EXPECT_FALSE(fileNameIsReadable(urls[0]));
        EXPECT_EQ(urls[0], fileUrlForNativePath(oddPath));
        EXPECT_EQ(urls[1], QUrl::fromLocalFile(twin));
    }
    // Alone, the odd name is still handed on as itself (the wheel then says it can't read it),
    // never as the twin.
    reader.clipboard.setData(QStringLiteral("text/uri-list"), encodedFolder + "/x%FF.jpg\n");
    convertCopiedFiles(reader);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0], QList<QUrl>{fileUrlForNativePath(oddPath)});
}

TEST_F(CopiedFiles, WhereTheDesktopHidesOtherProgramsCopiesTheLogSaysSoInsteadOfCopyFirst)
{
    reader.blind = QStringLiteral("no data control");
    // What was copied while we could see it still counts.
    reader.clipboard.setData(QStringLiteral("text/uri-list"), url(a));
    EXPECT_EQ(readCopiedFiles(reader), CopiedFilesResult::paths({QUrl::fromLocalFile(a)}));

    reader.clipboard.clear();
    test::LogCapture log;
    convertCopiedFiles(reader);
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_TRUE(log.contains(QStringLiteral("quorvenda.app"),
                             QStringLiteral("Copied Files failed: Nothing copied was seen: no data control")));
    ASSERT_EQ(toasts.toasts.size(), 1);
    EXPECT_EQ(toasts.toasts[0].text, QStringLiteral("Couldn't read the Copied Files"));
}
