#include "model/PlatformWording.h"

#include <gtest/gtest.h>

using namespace qv;

TEST(PlatformWording, NamesTheLinuxDesktop)
{
    EXPECT_EQ(platformWording(QStringLiteral("Show in Finder")), QStringLiteral("Show in Folder"));
    EXPECT_EQ(platformWording(QStringLiteral("Reveal in Finder")), QStringLiteral("Show in Folder"));
    EXPECT_EQ(platformWording(QStringLiteral("Copied — paste it in Finder")),
              QStringLiteral("Copied — paste it in your file manager"));
    EXPECT_EQ(platformWording(QStringLiteral("AirDrop isn't available right now")),
              QStringLiteral("Sending to a device isn't available right now"));
    EXPECT_EQ(platformWording(QStringLiteral("AirDrop")), QStringLiteral("Send to Device"));
    EXPECT_EQ(platformWording(QStringLiteral("Keep files on this Mac")),
              QStringLiteral("Keep files on this computer"));
    EXPECT_EQ(platformWording(QStringLiteral("Saved 3 files")), QStringLiteral("Saved 3 files"));
    // No entry's Linux words contain another entry's words, so nothing is replaced twice.
    for (const auto& [theirs, ours] : platformWordingTable())
        EXPECT_EQ(platformWording(ours), ours) << qPrintable(theirs);
}
