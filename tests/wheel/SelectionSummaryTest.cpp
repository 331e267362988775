#include "wheel/SelectionSummary.h"

#include "catalogue/ToolRegistry.h"
#include "model/wheel/WheelContent.h"
#include "wheel/SourceLabel.h"
#include "wheel/WheelSession.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace qv;

namespace {

// The first look as it reads each file: by its name when that names a format, else inspected.
QList<FileInfo> perFile(const QList<QUrl>& urls)
{
    QList<FileInfo> files;
    for (const QUrl& url : urls) {
        FileInfo file = fileInfoFromName(url);
        files.append(file.format ? file : fileInfoForURL(url));
    }
    return files;
}

// What a wheel offers, operations included.
QStringList offer(const WheelContent& content)
{
    QStringList lines{QString::fromUtf8(QJsonDocument(content.toJson()).toJson(QJsonDocument::Compact))};
    for (const QList<WheelSegmentModel>* ring : {&content.segments, &content.overflow}) {
        for (const WheelSegmentModel& segment : *ring)
            lines.append(segment.entry ? segment.entry->operationIDs().join(u',') : QString());
    }
    return lines;
}

class SelectionSummaryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        const QStringList names{"a.jpg", "B.JPG", "c.Jpg", "d.png", "notes.md", "deck.pdf", "song.mp3",
                                "clip.mp4", "archive.tar.gz", "X.TAR.GZ", "README", "data.xyz",
                                "other.xyz", ".bashrc", "sheet.csv"};
        for (const QString& name : names) {
            QFile file(dir.filePath(name));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            ASSERT_EQ(file.write("some text\n"), 10);
        }
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Album")));
        ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Photos.jpg")));
    }

    QUrl url(const QString& name) const
    {
        return QUrl::fromLocalFile(dir.filePath(name));
    }
    // A folder as some file managers name it, with a trailing "/".
    QUrl folder(const QString& name) const
    {
        return QUrl::fromLocalFile(dir.filePath(name) + QLatin1Char('/'));
    }

    void expectSameOffer(const QList<QUrl>& urls)
    {
        SCOPED_TRACE(QDebug::toString(urls).toStdString());
        const QList<FileInfo> files = perFile(urls);
        const SelectionSummary summary = SelectionSummary::fromNames(urls, [](const QUrl& u) {
            return fileInfoForURL(u);
        });
        EXPECT_EQ(summary.count(), urls.size());
        EXPECT_EQ(summary.urls(), urls);
        EXPECT_EQ(summary.files(), files);
        if (!files.isEmpty()) {
            EXPECT_EQ(summary.first(), files.first());
        }
        EXPECT_EQ(sourceLabelFor(summary), sourceLabel(files));
        qsizetype counted = 0;
        for (const qsizetype n : summary.counts())
            counted += n;
        EXPECT_EQ(counted, urls.size());
        EXPECT_LE(summary.kinds().size(), urls.size());
        for (const WheelKind kind : allCases<WheelKind>()) {
            EXPECT_EQ(offer(wheelContentForKinds(summary.kinds(), summary.counts(), kind)),
                      offer(wheelContentForSelection(files, kind)))
                << toString(kind).toStdString();
            WheelSession session(summary, false, {}, kind);
            EXPECT_EQ(offer(session.content(kind)), offer(wheelContentForSelection(files, kind)));
        }
    }

    QTemporaryDir dir;
};

TEST_F(SelectionSummaryTest, KindsOfferWhatEveryFileOffers)
{
    const QList<QUrl> mixed{url("a.jpg"), url("B.JPG"), url("notes.md"), url("c.Jpg"), url("README"),
                            folder("Album"), folder("Photos.jpg"), url("archive.tar.gz"),
                            url("X.TAR.GZ"), url("data.xyz"), url("other.xyz"), url(".bashrc"),
                            url("song.mp3"), url("deck.pdf"), url("clip.mp4"), url("d.png"),
                            url("sheet.csv")};
    expectSameOffer(mixed);
    // Each alone, and prefixes and suffixes of the mix: the dominant category moves with them.
    for (qsizetype i = 0; i < mixed.size(); ++i) {
        expectSameOffer({mixed[i]});
        expectSameOffer(mixed.mid(0, i + 1));
        expectSameOffer(mixed.mid(i));
    }
    // Counts decide the order of the categories: many pictures against fewer documents.
    QList<QUrl> weighted;
    for (int i = 0; i < 3; ++i)
        weighted << url("notes.md") << url("a.jpg") << url("B.JPG");
    expectSameOffer(weighted);
    expectSameOffer(QList<QUrl>(40, url("c.Jpg")) + QList<QUrl>{url("deck.pdf")});
    expectSameOffer(QList<QUrl>{url("deck.pdf"), url("notes.md")} + QList<QUrl>(5, url("deck.pdf")));
    expectSameOffer({});
}

TEST_F(SelectionSummaryTest, OnlyNamesThatTellTooLittleAreInspected)
{
    QList<QUrl> inspected;
    const QList<QUrl> urls{url("a.jpg"), url("README"), url("B.JPG"), folder("Album"), url("data.xyz"),
                           url("a.jpg"), url("data.xyz")};
    const SelectionSummary summary = SelectionSummary::fromNames(urls, [&](const QUrl& u) {
        inspected.append(u);
        return fileInfoForURL(u);
    });
    EXPECT_EQ(inspected, (QList<QUrl>{url("README"), folder("Album"), url("data.xyz"), url("data.xyz")}));
    EXPECT_FALSE(summary.allInspected());
    EXPECT_TRUE(summary.wasInspected(1));
    EXPECT_FALSE(summary.wasInspected(2));
    EXPECT_EQ(summary.fileAt(3).category, FileCategory::folder);
    // The pictures share one kind per spelling; the others stand alone.
    EXPECT_EQ(summary.counts(), (QList<qsizetype>{2, 1, 1, 1, 1, 1}));
    EXPECT_TRUE(summary.isMixed());

    // Read on the spot only when no file needs the disk.
    EXPECT_FALSE(SelectionSummary::fromNamesAlone(urls));
    EXPECT_FALSE(SelectionSummary::fromNamesAlone({url("a.jpg"), folder("Photos.jpg"), folder("Album")}));
    const QList<QUrl> named{url("a.jpg"), url("notes.md"), url("B.JPG"), folder("Photos.jpg")};
    const std::optional<SelectionSummary> alone = SelectionSummary::fromNamesAlone(named);
    ASSERT_TRUE(alone);
    EXPECT_EQ(alone->files(), perFile(named));
    EXPECT_FALSE(alone->allInspected());
}

} // namespace
