#include "platform/drags/DragOffer.h"

#include <gtest/gtest.h>

using namespace qv;

namespace {

QByteArray utf16(const QString& text, bool withMark = false)
{
    QByteArray bytes = withMark ? QByteArray("\xff\xfe", 2) : QByteArray();
    bytes.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    return bytes;
}

DragOffer offerOf(QStringList types)
{
    DragOffer offer;
    offer.types = std::move(types);
    return offer;
}

} // namespace

TEST(DragOffer, WebAddressesInEitherEncoding)
{
    const auto [url, title] = DragOffer::parseMozUrl(utf16(QStringLiteral("https://example.com/a%20b.png\nA café"), true));
    EXPECT_EQ(url, QUrl(QStringLiteral("https://example.com/a%20b.png")));
    EXPECT_EQ(title, QStringLiteral("A café"));
    EXPECT_EQ(DragOffer::parseMozUrl("https://example.com/x.jpg\nTitle").second, QStringLiteral("Title"));
    EXPECT_EQ(DragOffer::parseMozUrl(utf16(QStringLiteral("https://example.com/x.jpg"))).first.fileName(),
              QStringLiteral("x.jpg"));
    EXPECT_FALSE(DragOffer::parseMozUrl({}).first.isValid());
    EXPECT_FALSE(DragOffer::parseMozUrl("not a url at all\n").first.isValid());
}

TEST(DragOffer, NamesAreMadePlainAndFitTheirType)
{
    // Folders, control characters and dots that would lead out of the folder go.
    EXPECT_EQ(DragOffer::fileNameFor(QStringLiteral("../../etc/passwd"), {}), QStringLiteral("passwd"));
    EXPECT_EQ(DragOffer::fileNameFor(QStringLiteral("C:\\Users\\x\\photo.jpg"), QStringLiteral("image/jpeg")),
              QStringLiteral("photo.jpg"));
    EXPECT_EQ(DragOffer::fileNameFor(QStringLiteral("a\tb\nc.png"), QStringLiteral("image/png")),
              QStringLiteral("abc.png"));
    EXPECT_EQ(DragOffer::fileNameFor(QStringLiteral(".."), QStringLiteral("image/png")), QString());
    EXPECT_EQ(DragOffer::fileNameFor(QString(), QStringLiteral("image/png")), QString());
    // The extension says what the bytes are: added when missing, replaced when it says another.
    EXPECT_EQ(DragOffer::fileNameFor(QStringLiteral("A sunset"), QStringLiteral("image/png")),
              QStringLiteral("A sunset.png"));
    EXPECT_EQ(DragOffer::fileNameFor(QStringLiteral("photo.jpg"), QStringLiteral("image/png")),
              QStringLiteral("photo.png"));
    EXPECT_EQ(DragOffer::fileNameFor(QStringLiteral("photo.JPEG"), QStringLiteral("image/jpeg")),
              QStringLiteral("photo.JPEG"));
    EXPECT_EQ(DragOffer::fileNameFor(QStringLiteral("v1.2 draft"), QStringLiteral("image/webp")),
              QStringLiteral("v1.2 draft.webp"));
    // Bytes without a type keep their name as it stands.
    EXPECT_EQ(DragOffer::fileNameFor(QStringLiteral("notes.txt"), QStringLiteral("application/octet-stream")),
              QStringLiteral("notes.txt"));
    const QString longName = QString(300, QLatin1Char('x')) + QStringLiteral(".png");
    const QString cut = DragOffer::fileNameFor(longName, QStringLiteral("image/png"));
    EXPECT_EQ(cut.size(), 200);
    EXPECT_TRUE(cut.endsWith(QStringLiteral(".png")));
}

TEST(DragOffer, WhatIsWorthSavingAndUnderWhichName)
{
    // Chromium: bytes without a type, named by the direct-save name on its window.
    DragOffer chromium = offerOf({"text/x-moz-url", "UTF8_STRING", "text/plain", "XdndDirectSave0",
                                  "application/octet-stream", "text/html"});
    chromium.mozUrl = utf16(QStringLiteral("https://example.com/view?id=7\nA sunset"));
    chromium.directSaveName = QStringLiteral("sunset.jpg");
    auto data = chromium.savableData();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->name, QStringLiteral("sunset.jpg"));
    EXPECT_EQ(data->mimeType, QStringLiteral("image/jpeg"));
    EXPECT_EQ(data->offeredType, QStringLiteral("application/octet-stream"));

    // Without the direct-save name, the address names nothing useful: the bytes are saved under
    // the title, as data of no known kind.
    chromium.directSaveName.clear();
    data = chromium.savableData();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->name, QStringLiteral("A sunset"));
    EXPECT_EQ(data->mimeType, QStringLiteral("application/octet-stream"));
    // Bytes alone, named by nothing.
    data = offerOf({"application/octet-stream"}).savableData();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->name, QString());
    EXPECT_EQ(data->mimeType, QStringLiteral("application/octet-stream"));
    // An address that ends in a picture's name does.
    chromium.mozUrl = utf16(QStringLiteral("https://example.com/pics/dog%20run.webp\nA dog"));
    data = chromium.savableData();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->name, QStringLiteral("dog run.webp"));
    EXPECT_EQ(data->mimeType, QStringLiteral("image/webp"));

    // Firefox: a file promise with the image's own type; the address names it.
    DragOffer firefox = offerOf({"application/x-moz-file-promise", "text/x-moz-url", "image/png"});
    firefox.mozUrl = utf16(QStringLiteral("https://example.com/photos/cat.png?size=large\nCat"));
    data = firefox.savableData();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->name, QStringLiteral("cat.png"));
    EXPECT_EQ(data->mimeType, QStringLiteral("image/png"));
    // An address without a name: the title, with the type's extension.
    firefox.mozUrl = utf16(QStringLiteral("https://example.com/image?id=3\nMy cat"));
    EXPECT_EQ(firefox.savableData()->name, QStringLiteral("My cat.png"));
    // Nothing names it: no name, the type still known.
    firefox.mozUrl.clear();
    EXPECT_EQ(firefox.savableData()->name, QString());
    EXPECT_EQ(firefox.savableData()->mimeType, QStringLiteral("image/png"));

    // Several image types: the one the name speaks of.
    DragOffer several = offerOf({"image/png", "image/jpeg", "image/bmp"});
    several.uris = {QUrl(QStringLiteral("https://example.com/a/b.jpg"))};
    EXPECT_EQ(several.savableData()->mimeType, QStringLiteral("image/jpeg"));
    EXPECT_EQ(several.savableData()->name, QStringLiteral("b.jpg"));

    // A remote address without bytes, text, or local files: nothing to save here.
    DragOffer remote = offerOf({"text/uri-list", "text/x-moz-url", "text/plain"});
    remote.uris = {QUrl(QStringLiteral("https://example.com/photo.png"))};
    EXPECT_FALSE(remote.savableData());
    EXPECT_FALSE(offerOf({"text/plain", "UTF8_STRING", "STRING", "TEXT"}).savableData());
    DragOffer files = offerOf({"text/uri-list", "image/png"});
    files.uris = {QUrl::fromLocalFile(QStringLiteral("/tmp/x.png"))};
    EXPECT_FALSE(files.savableData());
    EXPECT_EQ(files.localFiles().size(), 1);
}
