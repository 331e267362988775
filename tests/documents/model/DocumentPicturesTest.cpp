#include "documents/model/DocumentPictures.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <sys/stat.h>

using namespace qv;

TEST(DocumentPictures, OnlyFilesOfTheDocumentsFolderAndBelowAreInside)
{
    QTemporaryDir dir;
    const QString doc = dir.filePath(QStringLiteral("doc"));
    const QString beside = test::writeFile(doc + QStringLiteral("/a b.png"));
    const QString below = test::writeFile(doc + QStringLiteral("/pictures/c.png"));
    const QString secret = test::writeFile(dir.filePath(QStringLiteral("private/photo.png")));
    ASSERT_TRUE(QFile::link(secret, doc + QStringLiteral("/out.png")));
    ASSERT_TRUE(QFile::link(beside, doc + QStringLiteral("/in.png")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(doc + QStringLiteral("/pipe.png")).constData(), 0600), 0);
    // A folder whose name starts like the document's is not inside it.
    const QString twinFolder = test::writeFile(dir.filePath(QStringLiteral("doc2/x.png")));

    using P = DocumentPictures::Place;
    const auto place = [&](const QString& reference) { return DocumentPictures::resolve(reference, doc, doc).place; };
    EXPECT_EQ(place(QStringLiteral("a b.png")), P::inside);
    EXPECT_EQ(place(QStringLiteral("a%20b.png")), P::inside);
    EXPECT_EQ(place(QStringLiteral("pictures/c.png")), P::inside);
    EXPECT_EQ(place(QStringLiteral("pictures/../a b.png")), P::inside);
    EXPECT_EQ(place(below), P::inside);
    EXPECT_EQ(place(QUrl::fromLocalFile(below).toString()), P::inside);
    EXPECT_EQ(place(QStringLiteral("in.png")), P::inside);
    EXPECT_EQ(DocumentPictures::resolve(QStringLiteral("in.png"), doc, doc).path, QFileInfo(beside).canonicalFilePath());

    EXPECT_EQ(place(secret), P::outside);
    EXPECT_EQ(place(QStringLiteral("../private/photo.png")), P::outside);
    EXPECT_EQ(place(QStringLiteral("pictures/../../private/photo.png")), P::outside);
    EXPECT_EQ(place(QUrl::fromLocalFile(secret).toString()), P::outside);
    EXPECT_EQ(place(QStringLiteral("out.png")), P::outside);
    EXPECT_EQ(place(twinFolder), P::outside);
    EXPECT_EQ(place(QStringLiteral("../doc2/x.png")), P::outside);
    EXPECT_EQ(place(QStringLiteral("/etc/hostname")), P::outside);
    EXPECT_EQ(place(QStringLiteral("../nothing.png")), P::outside);
    for (const char* network : {"https://example.com/x.png", "http://10.0.0.1/x.png", "//example.com/x.png",
                                "ftp://example.com/x.png", "file://far.example.org/x.png"})
        EXPECT_EQ(place(QString::fromLatin1(network)), P::outside) << network;

    EXPECT_EQ(place(QStringLiteral("missing.png")), P::missing);
    EXPECT_EQ(place(QStringLiteral("pipe.png")), P::missing);
    EXPECT_EQ(place(QStringLiteral("pictures")), P::missing);

    QList<DocBlock> blocks{DocBlock::paragraph({DocRun(QStringLiteral("text"))}),
                           DocBlock::image(QStringLiteral("a b.png"), std::nullopt, QStringLiteral("png")),
                           DocBlock::image(QStringLiteral("../private/photo.png"), std::nullopt, QStringLiteral("png")),
                           DocBlock::image(QStringLiteral("missing.png"), std::nullopt, QStringLiteral("png")),
                           DocBlock::image(std::nullopt, QByteArray("bytes"), QStringLiteral("png")),
                           DocBlock::image(QStringLiteral("https://example.com/x.png"), std::nullopt, QStringLiteral("png"))};
    EXPECT_EQ(DocumentPictures::removeOutside(blocks, doc, doc), 2);
    ASSERT_EQ(blocks.size(), 4);
    EXPECT_EQ(blocks[1].path, QStringLiteral("a b.png"));
    EXPECT_EQ(blocks[2].path, QStringLiteral("missing.png"));

    EXPECT_EQ(DocumentPictures::leftOutNote(0), QString());
    EXPECT_EQ(DocumentPictures::leftOutNote(1), QStringLiteral("1 picture outside the document's folder was left out"));
    EXPECT_EQ(DocumentPictures::leftOutNote(2), QStringLiteral("2 pictures outside the document's folder were left out"));
}
