#include "model/wheel/WheelContent.h"
#include "wheel/SourceLabel.h"
#include "wheel/WheelSession.h"

#include <gtest/gtest.h>

using namespace qv;

namespace {

WheelEntry entry(int n, WheelKind wheel = WheelKind::tools, bool withSymbol = true)
{
    WheelEntry e;
    e.id = QStringLiteral("e%1").arg(n);
    e.title = QStringLiteral("Entry %1").arg(n);
    if (withSymbol)
        e.symbol = QStringLiteral("star");
    e.wheel = wheel;
    return e;
}

QList<WheelEntry> entries(int count)
{
    QList<WheelEntry> list;
    for (int i = 1; i <= count; ++i)
        list.append(entry(i));
    return list;
}

QStringList ids(const QList<WheelSegmentModel>& segments)
{
    QStringList list;
    for (const WheelSegmentModel& s : segments)
        list.append(s.id);
    return list;
}

FileInfo file(const QString& name, FileCategory category, const char* formatExt = nullptr)
{
    FileInfo info;
    const SplitName split = splitFileName(name);
    info.name = name;
    info.baseName = split.baseName;
    info.ext = split.ext;
    info.category = category;
    if (formatExt)
        info.format = formatForExtension(QString::fromLatin1(formatExt));
    return info;
}

} // namespace

TEST(WheelContent, FillsTheRingAndTheMoreRing)
{
    const WheelContent eight = WheelContent::build(WheelKind::tools, entries(8), QStringLiteral("x"));
    EXPECT_EQ(ids(eight.segments),
              QStringList({"e1", "e2", "e3", "e4", "e5", "e6", "e7", "e8"}));
    EXPECT_TRUE(eight.overflow.isEmpty());
    EXPECT_FALSE(eight.message.has_value()); // any entry drops the message

    const WheelContent nine = WheelContent::build(WheelKind::tools, entries(9), std::nullopt);
    ASSERT_EQ(nine.segments.size(), 8);
    const WheelSegmentModel& more = nine.segments[7];
    EXPECT_EQ(more.id, QStringLiteral("more"));
    EXPECT_EQ(more.title, QStringLiteral("MORE"));
    EXPECT_EQ(more.symbol, QStringLiteral("ellipsis.circle"));
    EXPECT_EQ(more.style, WheelSegmentModel::Style::more);
    EXPECT_FALSE(more.entry.has_value());
    EXPECT_EQ(ids(nine.overflow), QStringList({"e8", "e9"}));

    const WheelContent thirty = WheelContent::build(WheelKind::tools, entries(30), std::nullopt);
    EXPECT_EQ(ids(thirty.segments).mid(0, 7), QStringList({"e1", "e2", "e3", "e4", "e5", "e6", "e7"}));
    ASSERT_EQ(thirty.overflow.size(), 16);
    EXPECT_EQ(thirty.overflow.first().id, QStringLiteral("e8"));
    EXPECT_EQ(thirty.overflow.last().id, QStringLiteral("e23"));
    EXPECT_EQ(thirty.overflow.last().entry->title, QStringLiteral("Entry 23"));

    const WheelContent empty = WheelContent::build(WheelKind::convert, {}, QStringLiteral("None"));
    EXPECT_TRUE(empty.segments.isEmpty());
    EXPECT_EQ(empty.message, QStringLiteral("None"));
    EXPECT_EQ(empty.kind, WheelKind::convert);
}

TEST(WheelContent, StyleFollowsWheelAndSymbol)
{
    using Style = WheelSegmentModel::Style;
    const auto style = [](WheelKind wheel, bool withSymbol) {
        return WheelSegmentModel::forEntry(entry(1, wheel, withSymbol)).style;
    };
    EXPECT_EQ(style(WheelKind::convert, false), Style::format);
    EXPECT_EQ(style(WheelKind::convert, true), Style::tool);
    EXPECT_EQ(style(WheelKind::tools, false), Style::tool);
    EXPECT_EQ(style(WheelKind::actions, false), Style::tool);

    // Overflow items follow the same rule.
    QList<WheelEntry> list;
    for (int i = 0; i < 9; ++i)
        list.append(entry(i, WheelKind::convert, false));
    EXPECT_EQ(WheelContent::build(WheelKind::convert, list, std::nullopt).overflow[1].style,
              Style::format);
}

TEST(WheelContent, SourceLabelNamesTheSelection)
{
    EXPECT_EQ(sourceLabel({}), QString());
    FileInfo folder = file(QStringLiteral("Photos"), FileCategory::folder);
    folder.isDirectory = true;
    EXPECT_EQ(sourceLabel({folder}), QStringLiteral("FOLDER"));
    EXPECT_EQ(sourceLabel({file(QStringLiteral("a.jpeg"), FileCategory::image, "jpeg")}),
              QStringLiteral("JPG"));
    EXPECT_EQ(sourceLabel({file(QStringLiteral("shot.CR2"), FileCategory::image, "cr2")}),
              QStringLiteral("CR2"));
    EXPECT_EQ(sourceLabel({file(QStringLiteral("notes.xyz"), FileCategory::other)}),
              QStringLiteral("XYZ"));
    EXPECT_EQ(sourceLabel({file(QStringLiteral("README"), FileCategory::other)}),
              QStringLiteral("FILE"));
    const FileInfo image = file(QStringLiteral("a.png"), FileCategory::image, "png");
    EXPECT_EQ(sourceLabel({image, image}), QStringLiteral("2 FILES"));
    EXPECT_EQ(sourceLabel({image, file(QStringLiteral("b.pdf"), FileCategory::pdf, "pdf")}),
              QStringLiteral("MIXED"));
}

TEST(WheelSession, FillsEveryWheelOnceAtCreation)
{
    QList<WheelKind> asked;
    const auto source = [&](const QList<FileInfo>& files, WheelKind kind) {
        asked.append(kind);
        return WheelContent::build(kind, entries(files.size()), std::nullopt);
    };
    const FileInfo image = file(QStringLiteral("a.png"), FileCategory::image, "png");
    WheelSession session({image, image}, true, source);
    EXPECT_EQ(asked, QList<WheelKind>({WheelKind::convert, WheelKind::tools, WheelKind::actions}));
    EXPECT_TRUE(session.isClickMode());
    EXPECT_EQ(session.files().size(), 2);
    EXPECT_EQ(session.content(WheelKind::tools).segments.size(), 2);
    EXPECT_EQ(asked.size(), 3); // stored, not asked again
    EXPECT_FALSE(session.thumbnail().has_value());

    int changes = 0;
    QObject::connect(&session, &WheelSession::thumbnailChanged, [&] { ++changes; });
    session.setThumbnail(QImage(4, 4, QImage::Format_ARGB32));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(session.thumbnail()->size(), QSize(4, 4));
}
