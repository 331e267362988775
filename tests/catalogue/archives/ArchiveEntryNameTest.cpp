#include "catalogue/archives/ArchiveEntryName.h"

#include <gtest/gtest.h>

using namespace qv;

TEST(ArchiveEntryName, UnicodeStaysLegacyZipNamesAreReadOthersEscaped)
{
    using Legacy = ArchiveEntryName::Legacy;
    const struct {
        QByteArray bytes;
        Legacy legacy;
        QString text;
    } rows[] = {
        {"plain/name.txt", Legacy::none, QStringLiteral("plain/name.txt")},
        {"na\xc3\xafve.txt", Legacy::none, QStringLiteral("naïve.txt")},
        // Valid UTF-8 wins over the legacy reading: tools on Linux write UTF-8 without the flag.
        {"na\xc3\xafve.txt", Legacy::cp437, QStringLiteral("naïve.txt")},
        {"Gr\x81\xe1" "e.txt", Legacy::cp437, QStringLiteral("Grüße.txt")},
        {"dir/\x81" "ber/\x9b\x9c\x9d.txt", Legacy::cp437, QStringLiteral("dir/über/¢£¥.txt")},
        {"\xb0\xb1\xb2\xdb\xff", Legacy::cp437, QStringLiteral("░▒▓█\u00a0")},
        {"caf\xe9.txt", Legacy::none, QStringLiteral("caf%E9.txt")},
        // Each stray byte on its own; good sequences beside it stay.
        {"\xff\xfe\xc3\xa9\x80z", Legacy::none, QStringLiteral("%FF%FEé%80z")},
        // Truncated, overlong and surrogate sequences are not UTF-8.
        {"a\xe2\x82", Legacy::none, QStringLiteral("a%E2%82")},
        {"\xc0\xaf", Legacy::none, QStringLiteral("%C0%AF")},
        {"\xed\xa0\x80", Legacy::none, QStringLiteral("%ED%A0%80")},
        {"\xf0\x9f\x98\x80.png", Legacy::none, QStringLiteral("😀.png")},
        // Control characters and reordering marks are never part of a name.
        {"line\nbreak\x1b[31m.txt", Legacy::none, QStringLiteral("line%0Abreak%1B[31m.txt")},
        {"tab\t\x7f", Legacy::cp437, QStringLiteral("tab%09%7F")},
        {"\xc2\x85" "next", Legacy::none, QStringLiteral("%C2%85next")},
        {"invoice\xe2\x80\xaetxt.exe", Legacy::none, QStringLiteral("invoice%E2%80%AEtxt.exe")},
        // Path parts are left for the path checks that follow.
        {"../\xe9/./x", Legacy::none, QStringLiteral("../%E9/./x")},
    };
    for (const auto& row : rows)
        EXPECT_EQ(ArchiveEntryName::fromBytes(row.bytes, row.legacy), row.text) << row.bytes.toHex().constData();
}
