#include "model/files/NativeFileName.h"

#include <gtest/gtest.h>

#include <QFile>

using namespace qv;

// "x\xff.jpg" and "x\xef\xbf\xbd.jpg" are two files; Qt's text for both is "x\uFFFD.jpg".
TEST(NativeFileName, NamesThatAreNotUtf8AreToldApartFromTheirTwins)
{
    const QUrl odd = fileUrlForNativePath("/tmp/dir/x\xff.jpg");
    const QUrl twin = fileUrlForNativePath("/tmp/dir/x\xef\xbf\xbd.jpg");
    EXPECT_FALSE(fileNameIsReadable(odd));
    EXPECT_TRUE(fileNameIsReadable(twin));
    EXPECT_NE(odd, twin);
    EXPECT_EQ(odd.toLocalFile(), twin.toLocalFile()); // what Qt's file layer would open
    EXPECT_EQ(odd.toEncoded(), QByteArray("file:///tmp/dir/x%FF.jpg"));

    // Names Qt spells exactly keep the URL they always had.
    for (const QString& path : {QStringLiteral("/tmp/a b#c[1]%.jpg"), QStringLiteral("/tmp/caf\u00e9 \u20ac.png")}) {
        const QUrl url = fileUrlForNativePath(QFile::encodeName(path));
        EXPECT_EQ(url, QUrl::fromLocalFile(path));
        EXPECT_TRUE(fileNameIsReadable(url));
    }
    EXPECT_EQ(fileUrlForNativePath("/tmp//a/../b.jpg"), QUrl::fromLocalFile(QStringLiteral("/tmp/b.jpg")));
    EXPECT_TRUE(fileNameIsReadable(QUrl(QStringLiteral("https://example.com/x%FF.jpg"))));
}

TEST(NativeFileName, UriListLinesKeepTheirBytes)
{
    EXPECT_FALSE(fileNameIsReadable(urlOfUriListLine("file:///tmp/x%FF.jpg")));
    // A source that sends the byte itself rather than its escape.
    const QUrl raw = urlOfUriListLine("file:///tmp/x\xff.jpg");
    EXPECT_FALSE(fileNameIsReadable(raw));
    EXPECT_EQ(raw, urlOfUriListLine("file:///tmp/x%FF.jpg"));
    EXPECT_TRUE(fileNameIsReadable(urlOfUriListLine("file:///tmp/x%EF%BF%BD.jpg")));
    EXPECT_EQ(urlOfUriListLine("file:///tmp/caf%C3%A9.jpg").toLocalFile(), QStringLiteral("/tmp/caf\u00e9.jpg"));
    EXPECT_EQ(urlOfUriListLine("https://example.com/a.png").scheme(), QStringLiteral("https"));
}

TEST(NativeFileName, FileUrisOfThisMachine)
{
    const QString host = QStringLiteral("box");
    EXPECT_EQ(nativePathOfFileUri("file:///tmp/x%FF.jpg", host), QByteArray("/tmp/x\xff.jpg"));
    EXPECT_EQ(nativePathOfFileUri("file:///tmp/x\xff.jpg", host), QByteArray("/tmp/x\xff.jpg"));
    EXPECT_EQ(nativePathOfFileUri("file://localhost/tmp/a%20b.jpg", host), QByteArray("/tmp/a b.jpg"));
    EXPECT_EQ(nativePathOfFileUri("FILE://BOX/tmp/a.jpg", host), QByteArray("/tmp/a.jpg"));
    EXPECT_EQ(nativePathOfFileUri("file:/tmp/../etc/a%23b.jpg#frag", host), QByteArray("/etc/a#b.jpg"));
    EXPECT_EQ(nativePathOfFileUri("file://other/tmp/a.jpg", host), std::nullopt);
    EXPECT_EQ(nativePathOfFileUri("file://other/tmp/a.jpg", QString()), std::nullopt);
    EXPECT_EQ(nativePathOfFileUri("file:relative.jpg", host), std::nullopt);
    EXPECT_EQ(nativePathOfFileUri("file:///tmp/a%00b.jpg", host), std::nullopt);
    EXPECT_EQ(nativePathOfFileUri("https://example.com/a.jpg", host), std::nullopt);
}

TEST(NativeFileName, CommandLineArguments)
{
    const QByteArray here("/home/u/Pictures");
    EXPECT_EQ(fileUrlForArgument("x\xff.jpg", here, QString()), fileUrlForNativePath("/home/u/Pictures/x\xff.jpg"));
    EXPECT_FALSE(fileNameIsReadable(fileUrlForArgument("x\xff.jpg", here, QString())));
    EXPECT_EQ(fileUrlForArgument("../a.jpg", here, QString()), QUrl::fromLocalFile(QStringLiteral("/home/u/a.jpg")));
    EXPECT_EQ(fileUrlForArgument("/srv/b.png", here, QString()), QUrl::fromLocalFile(QStringLiteral("/srv/b.png")));
    EXPECT_EQ(fileUrlForArgument("file:///srv/x%FF.png", here, QString()), fileUrlForNativePath("/srv/x\xff.png"));
    EXPECT_FALSE(fileUrlForArgument("https://example.com/a.png", here, QString()).isValid());
    EXPECT_FALSE(fileUrlForArgument("", here, QString()).isValid());
}
