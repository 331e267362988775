#include "platform/x11/X11DragSource.h"

#include "model/files/NativeFileName.h"

#include <gtest/gtest.h>

using namespace qv;

TEST(X11DragSource, ParsesUriListsAndRefusesOtherPlatforms)
{
    const QByteArray body = "# dragged from a file manager\r\n"
                            "file:///tmp/a%20b.jpg\r\n"
                            "\r\n"
                            "https://example.com/x\r\n"
                            "not a uri\r\n"
                            "file:///tmp/%C3%A9t%C3%A9.pdf"; // no final line end
    const QList<QUrl> uris = parseUriList(body);
    ASSERT_EQ(uris.size(), 3);
    EXPECT_EQ(uris[0].toLocalFile(), QStringLiteral("/tmp/a b.jpg"));
    EXPECT_FALSE(uris[1].isLocalFile());
    EXPECT_EQ(uris[2].toLocalFile(), QStringLiteral("/tmp/été.pdf"));
    EXPECT_TRUE(parseUriList({}).isEmpty());

    // "x\xff.jpg" beside its twin "x\uFFFD.jpg": two files, never one read as the other.
    const QList<QUrl> twins = parseUriList("file:///tmp/x%FF.jpg\r\nfile:///tmp/x%EF%BF%BD.jpg\r\n");
    ASSERT_EQ(twins.size(), 2);
    EXPECT_NE(twins[0], twins[1]);
    EXPECT_FALSE(fileNameIsReadable(twins[0]));
    EXPECT_TRUE(fileNameIsReadable(twins[1]));

    // These tests run on the offscreen platform, as a Wayland session would without X11.
    X11DragSource source;
    QString whyNot;
    EXPECT_FALSE(source.start(&whyNot));
    EXPECT_EQ(whyNot, QStringLiteral("the session is not X11 (platform offscreen)"));
    source.readDragOffer(); // without a connection: answers with nothing, never crashes
    source.nudgePointer();
    EXPECT_FALSE(source.isPrimaryButtonDown());
}
