#include "jobs/DataPromise.h"
#include "wheel/WheelDrop.h"

#include <QMimeData>

#include <gtest/gtest.h>

using namespace qv;

namespace {

std::shared_ptr<DataPromise> dataOf(const WheelDrop& drop)
{
    return drop.promises.size() == 1 ? std::dynamic_pointer_cast<DataPromise>(drop.promises.first())
                                     : nullptr;
}

} // namespace

TEST(WheelDrop, DataWithoutFilesIsPromisedUnderItsTypeAndName)
{
    // As a browser drops a picture: protocol names, text, bytes without a type, the image.
    QMimeData browser;
    browser.setData(QStringLiteral("XdndDirectSave0"), "x");
    browser.setData(QStringLiteral("text/html"), "<img>");
    browser.setData(QStringLiteral("application/octet-stream"), "raw");
    browser.setData(QStringLiteral("image/png"), "png bytes");
    browser.setUrls({QUrl(QStringLiteral("https://example.com/a/cat.jpg?w=2"))});
    WheelDrop drop = WheelDrop::fromMimeData(browser, QPointF(1, 2), true);
    EXPECT_TRUE(drop.urls.isEmpty());
    EXPECT_TRUE(drop.optionHeld);
    auto data = dataOf(drop);
    ASSERT_TRUE(data);
    ASSERT_EQ(data->items().size(), 1);
    EXPECT_EQ(data->items()[0].mimeType, QStringLiteral("image/png"));
    EXPECT_EQ(data->items()[0].data, QByteArray("png bytes"));
    // The address's name, made to say what the bytes are.
    EXPECT_EQ(data->items()[0].name, QStringLiteral("cat.png"));

    // The name the drag announced while it ran wins.
    drop.nameAfter({promisedFileInfo(QStringLiteral("Sunset at sea"), QStringLiteral("image/png"))});
    EXPECT_EQ(dataOf(drop)->items()[0].name, QStringLiteral("Sunset at sea.png"));
    // Real files, or nothing announced, leave it as it is.
    WheelDrop again = WheelDrop::fromMimeData(browser, {}, false);
    again.nameAfter({});
    EXPECT_EQ(dataOf(again)->items()[0].name, QStringLiteral("cat.png"));

    // Bytes without a type are taken when nothing better is there.
    QMimeData bytes;
    bytes.setData(QStringLiteral("application/octet-stream"), "raw");
    bytes.setData(QStringLiteral("XdndDirectSave0"), "x");
    drop = WheelDrop::fromMimeData(bytes, {}, false);
    ASSERT_TRUE(dataOf(drop));
    EXPECT_EQ(dataOf(drop)->items()[0].mimeType, QStringLiteral("application/octet-stream"));
    drop.nameAfter({promisedFileInfo(QStringLiteral("sunset.jpg"), QStringLiteral("image/jpeg"))});
    EXPECT_EQ(dataOf(drop)->items()[0].name, QStringLiteral("sunset.jpg"));

    // Text, addresses and protocol names alone give nothing to receive.
    QMimeData text;
    text.setText(QStringLiteral("words"));
    text.setHtml(QStringLiteral("<b>words</b>"));
    text.setData(QStringLiteral("XdndDirectSave0"), "x");
    text.setUrls({QUrl(QStringLiteral("https://example.com/photo.png"))});
    drop = WheelDrop::fromMimeData(text, {}, false);
    EXPECT_TRUE(drop.urls.isEmpty());
    EXPECT_TRUE(drop.promises.isEmpty());

    // Local files are files, whatever else comes with them.
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a.png"))});
    files.setData(QStringLiteral("image/png"), "png bytes");
    drop = WheelDrop::fromMimeData(files, {}, false);
    EXPECT_EQ(drop.urls.size(), 1);
    EXPECT_TRUE(drop.promises.isEmpty());
}

TEST(WheelDrop, WhileTheDragRunsOnlyFilesAreRead)
{
    QMimeData data;
    data.setData(QStringLiteral("image/png"), "png bytes");
    EXPECT_TRUE(WheelDrop::fromMimeData(data, {}, false, false).promises.isEmpty());
    data.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a.png"))});
    EXPECT_EQ(WheelDrop::fromMimeData(data, {}, false, false).urls.size(), 1);
}
