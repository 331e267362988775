#include "graphics/SymbolTable.h"
#include "model/settings/SettingsKeys.h"
#include "platform/desktop/ScreenCoordinates.h"
#include "platform/settings/SettingsStore.h"
#include "support/FakeClock.h"
#include "support/FakeScreens.h"
#include "wheel/SymbolImageCache.h"
#include "wheel/ui/WheelView.h"

#include <QApplication>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMimeData>
#include <QScopeGuard>

#include <gtest/gtest.h>

using namespace qv;

namespace qv {

// Found by GoogleTest's printer next to the type, so failures name the segment.
inline std::ostream& operator<<(std::ostream& os, const WheelTarget& target)
{
    return os << toString(target.ring).toStdString() << '(' << target.index << ')';
}

} // namespace qv

namespace {

QList<WheelEntry> entries(int count, WheelKind kind = WheelKind::tools)
{
    QList<WheelEntry> list;
    for (int i = 0; i < count; ++i)
        list.append(WheelEntry{QStringLiteral("entry.%1").arg(i), QStringLiteral("Entry %1").arg(i),
                               QStringLiteral("crop"), kind, {}});
    return list;
}

class WheelViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"));
    }

    void SetUp() override
    {
        qunsetenv("QUORVENDA_REDUCE_MOTION");
        screens.list = {ScreenInfo{QRectF(0, 0, 1920, 1080), QRectF(0, 0, 1920, 1050), 1}};
        view.setFontFamily(QStringLiteral("DejaVu Sans"));
        view.setScreenProvider(screens);
        view.timeline().setClock(clock);
        view.resize(516, 516);
        view.setDiameter(420);
        view.setWheelCenter(QPointF(258, 258));
        QObject::connect(&view, &WheelView::closeRequested, [this](bool) { ++closes; });
        QObject::connect(&view, &WheelView::segmentChosen,
                         [this](const WheelSegmentModel& segment) { chosen.append(segment.id); });
        QObject::connect(&view, &WheelView::segmentDropped,
                         [this](const WheelSegmentModel& segment, const WheelDrop& drop) {
                             chosen.append(segment.id);
                             drops.append(drop);
                         });
        QObject::connect(&view, &WheelView::panelResizeRequested,
                         [this](bool open) { resizes.append(open); });
    }

    void TearDown() override { qunsetenv("QUORVENDA_REDUCE_MOTION"); }

    void show(int entryCount, bool clickMode, WheelKind kind = WheelKind::tools)
    {
        view.setClickMode(clickMode);
        view.reset();
        view.relayout();
        view.setContent(WheelContent::build(kind, entries(entryCount, kind), std::nullopt), false);
    }

    // Widget positions of a main-ring segment, a More item and the centre.
    QPointF segmentPoint(int index) const { return view.toWidget(view.wheelGeometry().labelCenter(index)); }
    QPointF itemPoint(int index) const { return view.toWidget(view.moreGeometry()->itemLabelCenter(index)); }
    QPointF centerPoint() const { return view.toWidget(view.wheelGeometry().center); }

    void key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QKeyEvent press(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(&view, &press);
    }

    void mouse(QEvent::Type type, QPointF at)
    {
        QMouseEvent event(type, at, view.mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&view, &event);
    }

    // A drag reaches the view only after it entered.
    void enter(QPointF at)
    {
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&view, &enter);
    }

    // Whether the view answers that something can be dropped there.
    bool dragTo(QPointF at)
    {
        if (!entered) {
            enter(at);
            entered = true;
        }
        QDragMoveEvent move(at.toPoint(), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&view, &move);
        return move.isAccepted() && move.dropAction() == Qt::CopyAction;
    }

    bool dropAt(QPointF at, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        enter(at);
        QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, modifiers);
        QApplication::sendEvent(&view, &drop);
        return drop.isAccepted();
    }

    void wait(int ms)
    {
        clock.advance(ms);
        view.timeline().advance();
    }

    test::FakeClock clock;
    test::FakeScreens screens;
    WheelView view;
    QMimeData mime;
    int closes = 0;
    QStringList chosen;
    QList<WheelDrop> drops;
    QList<bool> resizes;
    bool entered = false;
};

TEST_F(WheelViewTest, ArrowKeysStepAroundTheRingAndWrap)
{
    show(8, true);
    // Click mode starts on the first segment.
    EXPECT_EQ(view.target(), WheelTarget::inner(0));
    key(Qt::Key_Left);
    EXPECT_EQ(view.target(), WheelTarget::inner(7));
    key(Qt::Key_Down);
    EXPECT_EQ(view.target(), WheelTarget::inner(0));
    key(Qt::Key_Up);
    key(Qt::Key_Right);
    EXPECT_EQ(view.target(), WheelTarget::inner(0));

    // From nothing, left takes the last segment and right the first.
    view.clearTarget();
    key(Qt::Key_Left);
    EXPECT_EQ(view.target(), WheelTarget::inner(7));
    view.clearTarget();
    key(Qt::Key_Right);
    EXPECT_EQ(view.target(), WheelTarget::inner(0));

    // Return chooses the highlight; with nothing highlighted it does nothing.
    key(Qt::Key_Return);
    EXPECT_EQ(chosen, QStringList{QStringLiteral("entry.0")});
    view.clearTarget();
    key(Qt::Key_Enter);
    EXPECT_EQ(chosen.size(), 1);
    key(Qt::Key_Escape);
    EXPECT_EQ(closes, 1);

    // In drag mode the keys are not the view's.
    show(8, false);
    key(Qt::Key_Right);
    EXPECT_TRUE(view.target().isNone());
}

TEST_F(WheelViewTest, TabOpensTheMoreRingAndReturnsToTheMoreSegment)
{
    show(8, true);
    key(Qt::Key_Tab);
    EXPECT_FALSE(view.isMoreOpen());
    EXPECT_EQ(view.target(), WheelTarget::inner(0));

    show(10, true); // seven segments, More, three items
    key(Qt::Key_Tab);
    EXPECT_TRUE(view.isMoreOpen());
    EXPECT_EQ(resizes, QList<bool>{true});
    EXPECT_EQ(view.target(), WheelTarget::outer(0));
    ASSERT_TRUE(view.moreGeometry());
    EXPECT_EQ(view.moreGeometry()->itemCount, 3);
    EXPECT_EQ(view.scene().moreItems.size(), 3);
    EXPECT_FALSE(view.scene().showChip); // hidden while the ring is open
    // The ring is centred on the More segment's direction.
    EXPECT_DOUBLE_EQ(view.moreGeometry()->anchorAngle, M_PI / 2 - 7 * M_PI / 4);

    key(Qt::Key_Right);
    EXPECT_EQ(view.target(), WheelTarget::outer(1));
    key(Qt::Key_Tab);
    EXPECT_EQ(view.target(), WheelTarget::inner(7));
    EXPECT_TRUE(view.isMoreOpen());

    // Choosing the More segment closes the ring again and asks for the smaller panel.
    key(Qt::Key_Return);
    EXPECT_FALSE(view.isMoreOpen());
    EXPECT_EQ(resizes, (QList<bool>{true, false}));
    EXPECT_TRUE(chosen.isEmpty());
    EXPECT_TRUE(view.scene().showChip);

    // New content closes the ring without asking for a smaller panel.
    key(Qt::Key_Tab);
    view.setContent(WheelContent::build(WheelKind::convert, entries(3, WheelKind::convert), std::nullopt), true);
    EXPECT_FALSE(view.isMoreOpen());
    EXPECT_EQ(resizes, (QList<bool>{true, false, true}));
}

TEST_F(WheelViewTest, ClickingChoosesOnlyWherePressAndReleaseMeet)
{
    show(10, true);
    mouse(QEvent::MouseButtonPress, segmentPoint(1));
    mouse(QEvent::MouseButtonRelease, segmentPoint(2));
    EXPECT_TRUE(chosen.isEmpty());
    mouse(QEvent::MouseButtonPress, segmentPoint(2));
    mouse(QEvent::MouseButtonRelease, centerPoint());
    EXPECT_TRUE(chosen.isEmpty());

    mouse(QEvent::MouseButtonPress, segmentPoint(3));
    mouse(QEvent::MouseButtonRelease, segmentPoint(3));
    EXPECT_EQ(chosen, QStringList{QStringLiteral("entry.3")});

    // Moving to the centre keeps the last highlight.
    mouse(QEvent::MouseMove, segmentPoint(5));
    mouse(QEvent::MouseMove, centerPoint());
    EXPECT_EQ(view.target(), WheelTarget::inner(5));

    // A click on More opens the ring and highlights its first item; an item then chooses.
    mouse(QEvent::MouseButtonPress, segmentPoint(7));
    mouse(QEvent::MouseButtonRelease, segmentPoint(7));
    EXPECT_TRUE(view.isMoreOpen());
    EXPECT_EQ(view.target(), WheelTarget::outer(0));
    mouse(QEvent::MouseButtonPress, itemPoint(2));
    mouse(QEvent::MouseButtonRelease, itemPoint(2));
    EXPECT_EQ(chosen.last(), QStringLiteral("entry.9"));

    // Outside the wheel closes it, but not within the open ring's reach.
    EXPECT_EQ(closes, 0);
    mouse(QEvent::MouseButtonPress, view.toWidget(QPointF(258, 258 - 250)));
    EXPECT_EQ(closes, 0);
    mouse(QEvent::MouseButtonPress, view.toWidget(QPointF(258, 258 - 290)));
    EXPECT_EQ(closes, 1);
    mouse(QEvent::MouseButtonPress, centerPoint());
    EXPECT_EQ(closes, 1);
}

TEST_F(WheelViewTest, DropOnMoreOrCentreAnswersNoOperation)
{
    show(10, false);
    mime.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a.jpg"))});

    EXPECT_FALSE(dragTo(segmentPoint(7)));
    EXPECT_EQ(view.target(), WheelTarget::inner(7)); // highlighted all the same
    EXPECT_FALSE(dragTo(centerPoint()));
    EXPECT_TRUE(view.target().isNone());
    EXPECT_TRUE(dragTo(segmentPoint(2)));
    EXPECT_EQ(view.target(), WheelTarget::inner(2));
    // The ring catches the pointer up to 8 points beyond its edge.
    EXPECT_TRUE(dragTo(view.toWidget(QPointF(258 + 198 + 8, 258))));

    EXPECT_FALSE(dropAt(segmentPoint(7)));
    EXPECT_FALSE(dropAt(centerPoint()));
    EXPECT_EQ(closes, 2);
    EXPECT_TRUE(chosen.isEmpty());

    QDragLeaveEvent leave;
    QApplication::sendEvent(&view, &leave);
    EXPECT_TRUE(view.target().isNone());
}

TEST_F(WheelViewTest, DropOnASegmentReportsItsEntryTheFilesAndThePoint)
{
    show(8, false);
    int entered = 0;
    QObject::connect(&view, &WheelView::dragEnteredFirst, [&](const WheelDrop& drop) {
        ++entered;
        EXPECT_EQ(drop.urls.size(), 2);
    });
    const QUrl a = QUrl::fromLocalFile(QStringLiteral("/tmp/in/a.jpg"));
    const QUrl b = QUrl::fromLocalFile(QStringLiteral("/tmp/in/b.png"));
    mime.setUrls({a, QUrl(QStringLiteral("https://example.org/c.png")), b});

    // The first entry reads the real files, once per opened wheel.
    for (int i = 0; i < 2; ++i) {
        QDragEnterEvent enter(segmentPoint(3).toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&view, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDragLeaveEvent leave;
        QApplication::sendEvent(&view, &leave);
    }
    EXPECT_EQ(entered, 1);

    const QPointF at = segmentPoint(3);
    EXPECT_TRUE(dropAt(at, Qt::AltModifier));
    ASSERT_EQ(drops.size(), 1);
    EXPECT_EQ(chosen, QStringList{QStringLiteral("entry.3")});
    EXPECT_EQ(drops[0].urls, (QList<QUrl>{a, b})); // local files only, in drop order
    EXPECT_TRUE(drops[0].promises.isEmpty());
    EXPECT_TRUE(drops[0].optionHeld);
    EXPECT_EQ(drops[0].point, flipY(QPointF(view.mapToGlobal(at)), 1080));

    // Data without a path becomes a file to receive.
    QMimeData image;
    image.setData(QStringLiteral("image/png"), QByteArray("\x89PNG", 4));
    image.setUrls({QUrl(QStringLiteral("https://example.org/photo.png"))});
    QDragEnterEvent enterImage(segmentPoint(0).toPoint(), Qt::CopyAction, &image, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &enterImage);
    QDropEvent drop(segmentPoint(0), Qt::CopyAction, &image, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &drop);
    ASSERT_EQ(drops.size(), 2);
    EXPECT_TRUE(drops[1].urls.isEmpty());
    ASSERT_EQ(drops[1].promises.size(), 1);
    EXPECT_EQ(drops[1].promises[0]->announcedNames(), QStringList{QStringLiteral("photo.png")});
    EXPECT_FALSE(drops[1].optionHeld);

    view.reset();
    QDragEnterEvent again(segmentPoint(3).toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &again);
    EXPECT_EQ(entered, 2);
}

TEST_F(WheelViewTest, HoveringTheMoreSegmentOpensTheRingAfterFourTenths)
{
    show(12, false);
    mime.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a.jpg"))});

    dragTo(segmentPoint(7));
    EXPECT_TRUE(view.isMoreHoverPending());
    wait(300);
    EXPECT_FALSE(view.isMoreOpen());
    // Leaving after 0.3 s calls it off.
    dragTo(segmentPoint(6));
    EXPECT_FALSE(view.isMoreHoverPending());
    wait(500);
    EXPECT_FALSE(view.isMoreOpen());

    dragTo(segmentPoint(7));
    wait(399);
    EXPECT_FALSE(view.isMoreOpen());
    wait(1);
    EXPECT_TRUE(view.isMoreOpen());
    EXPECT_EQ(resizes, QList<bool>{true});
    // Items ring in one after another: the last is still invisible when the first shows.
    EXPECT_DOUBLE_EQ(view.scene().moreItems.last().opacity, 0);
    wait(170);
    EXPECT_DOUBLE_EQ(view.scene().moreItems.first().opacity, 1);
    EXPECT_LT(view.scene().moreItems.last().opacity, 1);
    wait(200);
    EXPECT_DOUBLE_EQ(view.scene().moreItems.last().opacity, 1);

    // The open ring is hit first; back on the main ring it stays open.
    EXPECT_TRUE(dragTo(itemPoint(1)));
    EXPECT_EQ(view.target(), WheelTarget::outer(1));
    dragTo(segmentPoint(2));
    EXPECT_TRUE(view.isMoreOpen());

    // In click mode hovering never opens it.
    show(12, true);
    mouse(QEvent::MouseMove, segmentPoint(7));
    EXPECT_EQ(view.target(), WheelTarget::inner(7));
    wait(1000);
    EXPECT_FALSE(view.isMoreOpen());
}

TEST_F(WheelViewTest, HighlightSpringsAndReduceMotionSkipsThem)
{
    show(8, false);
    view.setTarget(WheelTarget::inner(2), true);
    EXPECT_TRUE(view.timeline().has(QStringLiteral("inner:2/hoverScale")));
    EXPECT_TRUE(view.timeline().has(QStringLiteral("inner:2/hoverFill")));
    EXPECT_DOUBLE_EQ(view.scene().segments[2].scale, 1);
    wait(1000);
    EXPECT_DOUBLE_EQ(view.scene().segments[2].scale, SegmentLayer::highlightScale);
    EXPECT_EQ(view.scene().segments[2].fill.rgba(), segmentColor(2, 8, true, WheelPalette{WheelKind::tools, false}).rgba());
    EXPECT_EQ(view.scene().segments[2].layer.zPosition, 1);
    EXPECT_TRUE(view.timeline().isIdle());

    view.pulseTarget(WheelTarget::inner(2));
    wait(72); // the top of the pulse, at 0.4 of 0.18 s
    EXPECT_NEAR(*view.scene().segments[2].pulseScale, 1.09, 0.01);
    wait(200);
    EXPECT_FALSE(view.scene().segments[2].pulseScale);

    view.playOpenAnimation();
    EXPECT_DOUBLE_EQ(view.scene().rootScale, 0.85);
    EXPECT_DOUBLE_EQ(view.scene().rootOpacity, 0);
    wait(140);
    EXPECT_DOUBLE_EQ(view.scene().rootScale, 1);
    EXPECT_DOUBLE_EQ(view.scene().rootOpacity, 1);

    qputenv("QUORVENDA_REDUCE_MOTION", "1");
    show(12, false);
    view.setTarget(WheelTarget::inner(3), true);
    EXPECT_FALSE(view.timeline().has(QStringLiteral("inner:3/hoverScale")));
    EXPECT_TRUE(view.timeline().has(QStringLiteral("inner:3/hoverFill")));
    EXPECT_DOUBLE_EQ(view.scene().segments[3].scale, 1);
    view.pulseTarget(WheelTarget::inner(3));
    EXPECT_FALSE(view.timeline().has(QStringLiteral("inner:3/pulse")));
    view.playOpenAnimation();
    EXPECT_FALSE(view.timeline().has(QStringLiteral("root/open")));
    EXPECT_TRUE(view.timeline().has(QStringLiteral("root/openFade"))); // the fade stays
    view.openMoreRing();
    EXPECT_DOUBLE_EQ(view.scene().moreItems.last().opacity, 1);
    view.setContent(WheelContent::build(WheelKind::convert, entries(2, WheelKind::convert), std::nullopt), true);
    EXPECT_FALSE(view.scene().fadeFrom);
}

TEST_F(WheelViewTest, CentreChipMessageAndAccessibilityText)
{
    EXPECT_EQ(view.accessibilityText(), QStringLiteral("Quorvenda"));
    SettingsStore::shared().setValue(SettingsKey::triggerActions, QStringLiteral("option"));
    view.setSourceLabel(QStringLiteral("2 FILES"));
    show(9, true, WheelKind::actions);
    EXPECT_EQ(view.accessibilityText(),
              QStringLiteral("Actions wheel for 2 FILES: Entry 0, Entry 1, Entry 2, Entry 3, Entry 4, "
                             "Entry 5, Entry 6, MORE"));
    // Opened for given files, not by a modifier: the chip names the wheel alone.
    EXPECT_EQ(view.scene().chipText.text(), QStringLiteral("Actions"));
    // The chip sits 10 points above the circle.
    EXPECT_NEAR(view.scene().chipFrame.bottom(), 258 - 210 - 10, 0.01);
    show(9, false, WheelKind::actions);
    EXPECT_EQ(view.scene().chipText.text(), QStringLiteral("Alt  Actions"));
    // A rest opened it: no key to name, and the wheel another rest brings instead.
    view.setRestHint(true, WheelKind::convert);
    view.layoutChip();
    EXPECT_EQ(view.scene().chipText.text(), QStringLiteral("Actions  ·  leave the edge and rest again for Convert"));
    view.setRestHint(true, std::nullopt);
    view.layoutChip();
    EXPECT_EQ(view.scene().chipText.text(), QStringLiteral("Actions"));
    view.setRestHint(false, std::nullopt);
    SettingsStore::shared().setValue(SettingsKey::triggerActions, QStringLiteral("off"));
    view.layoutChip();
    EXPECT_EQ(view.scene().chipText.text(), QStringLiteral("Actions"));
    show(9, true, WheelKind::actions);

    // Cards: none for one file, one for two, both for three; none without a picture.
    QImage wide(400, 100, QImage::Format_RGB32);
    wide.fill(Qt::red);
    view.setThumbnail(wide);
    for (const auto& [count, first, second] : {std::tuple{1, false, false}, {2, true, false}, {3, true, true}}) {
        view.setFileCount(count);
        view.layoutCenter();
        EXPECT_EQ(view.scene().showFirstCard, first) << count;
        EXPECT_EQ(view.scene().showSecondCard, second) << count;
    }
    // A very wide picture keeps at least 36 points of height.
    EXPECT_DOUBLE_EQ(view.scene().thumbFrame.width(), 96);
    EXPECT_DOUBLE_EQ(view.scene().thumbFrame.height(), 36);
    view.setThumbnail(std::nullopt);
    view.layoutCenter();
    EXPECT_FALSE(view.scene().showFirstCard);

    // A long label gets a pill no wider than 1.5 × the disc's radius; an empty one none.
    view.setSourceLabel(QStringLiteral("A VERY LONG LABEL THAT GOES ON AND ON"));
    view.layoutCenter();
    EXPECT_NEAR(view.scene().pillFrame.width(), 1.5 * 420 * 0.21, 1e-9);
    view.setSourceLabel(QString());
    view.layoutCenter();
    EXPECT_FALSE(view.scene().showPill);

    // A wheel with nothing to offer shows its message where segment 0 would be.
    view.setContent(WheelContent::build(WheelKind::convert, {}, QStringLiteral("No conversions for this file")), false);
    EXPECT_TRUE(view.scene().segments.isEmpty());
    EXPECT_TRUE(view.scene().message.visible);
    EXPECT_NEAR(view.scene().message.frame.center().y(), 258 - (98.2 + 198) / 2, 0.51);
    EXPECT_TRUE(view.target().isNone());
}

// A picture dragged out of a browser hangs at the pointer over the segment being chosen: the
// chip names that segment on the far side of the circle.
TEST_F(WheelViewTest, TheChipNamesTheTargetOnTheSideAwayFromThePointer)
{
    show(6, false, WheelKind::tools);
    const QRectF above = view.scene().chipFrame;
    EXPECT_LT(above.bottom(), 258 - 210);
    dragTo(segmentPoint(0)); // the top segment
    EXPECT_EQ(view.scene().chipText.text(), QStringLiteral("Tools  ·  Entry 0"));
    EXPECT_GT(view.scene().chipFrame.top(), 258 + 210);
    // A segment in the lower half: the chip goes back above.
    const int lower = 3;
    ASSERT_GT(segmentPoint(lower).y(), 258);
    dragTo(segmentPoint(lower));
    EXPECT_EQ(view.scene().chipText.text(), QStringLiteral("Tools  ·  Entry 3"));
    EXPECT_LT(view.scene().chipFrame.bottom(), 258 - 210);
    // Off the segments it names the wheel again.
    dragTo(centerPoint());
    EXPECT_EQ(view.scene().chipFrame, above);
    EXPECT_FALSE(view.scene().chipText.text().contains(QStringLiteral("Entry")));
}

TEST_F(WheelViewTest, TriggerModifiersSwitchWheelsInClickMode)
{
    SettingsStore::shared().setValue(SettingsKey::triggerConvert, QStringLiteral("shift"));
    SettingsStore::shared().setValue(SettingsKey::triggerTools, QStringLiteral("shift"));
    SettingsStore::shared().setValue(SettingsKey::triggerActions, QStringLiteral("control"));
    QList<WheelKind> switches;
    QObject::connect(&view, &WheelView::wheelSwitchRequested, [&](WheelKind kind) { switches.append(kind); });

    show(4, true, WheelKind::tools);
    key(Qt::Key_Shift, Qt::ShiftModifier);
    EXPECT_EQ(switches, QList<WheelKind>{WheelKind::convert}); // the first kind wins
    // Held shift does not count again; control going down does.
    key(Qt::Key_Control, Qt::ShiftModifier | Qt::ControlModifier);
    EXPECT_EQ(switches, (QList<WheelKind>{WheelKind::convert, WheelKind::actions}));

    // The shown wheel's own trigger does nothing.
    show(4, true, WheelKind::convert);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Shift, Qt::NoModifier);
    QApplication::sendEvent(&view, &release);
    key(Qt::Key_Shift, Qt::ShiftModifier);
    EXPECT_EQ(switches.size(), 2);

    // In drag mode modifiers are the drag watcher's.
    show(4, false, WheelKind::tools);
    key(Qt::Key_Control, Qt::ControlModifier);
    EXPECT_EQ(switches.size(), 2);
}

} // namespace

// Under GNOME's icon theme the wheel's symbols are the theme's symbolic icons in the wheel's
// own ink, not blots of its full-colour ones nor dark shapes on the dark wheel.
TEST_F(WheelViewTest, ThemeSymbolsTakeTheWheelsInk)
{
    const QStringList paths = QIcon::themeSearchPaths();
    const QString theme = QIcon::themeName();
    const auto restore = qScopeGuard([&] {
        QIcon::setThemeSearchPaths(paths);
        QIcon::setThemeName(theme);
        SymbolImageCache::shared().setLoader(&oneColourSymbolIcon);
    });
    // Where a GNOME session's platform theme looks.
    QIcon::setThemeSearchPaths({QStringLiteral("/usr/share/icons")});
    QIcon::setThemeName(QStringLiteral("Adwaita"));
    if (!QIcon::hasThemeIcon(QStringLiteral("edit-delete-symbolic")))
        GTEST_SKIP() << "needs adwaita-icon-theme";
    SymbolImageCache::shared().setLoader(&oneColourSymbolIcon); // forgets symbols of other themes
    QPalette dark = view.palette();
    dark.setColor(QPalette::Window, QColor(36, 36, 36));
    view.setPalette(dark);
    ASSERT_TRUE(view.isDarkAppearance());
    // OCR, Redact, Terminal and Copy Path.
    const QStringList symbols{"text.viewfinder", "rectangle.dashed.and.paperclip", "terminal", "link"};
    QList<WheelEntry> list;
    for (int i = 0; i < symbols.size(); ++i)
        list.append(WheelEntry{QStringLiteral("entry.%1").arg(i), QStringLiteral("Entry %1").arg(i), symbols[i],
                               WheelKind::actions, {}});
    view.setClickMode(true);
    view.reset();
    view.relayout();
    view.setContent(WheelContent::build(WheelKind::actions, list, std::nullopt), false);
    QImage shot(view.size(), QImage::Format_ARGB32);
    shot.fill(QColor(36, 36, 36));
    view.render(&shot);

    ASSERT_EQ(view.scene().segments.size(), symbols.size());
    for (int i = 0; i < symbols.size(); ++i) {
        // The title's ink.
        const QColor ink = view.scene().segments[i].title.color;
        const QRect frame = view.scene().segments[i].iconFrame.toAlignedRect();
        ASSERT_FALSE(frame.isEmpty()) << symbols[i].toStdString();
        // The segment's own colour, beside the symbol.
        const QColor ground = shot.pixelColor(frame.left() - 4, frame.center().y());
        int inked = 0;
        int dark = 0;
        for (int y = frame.top(); y <= frame.bottom(); ++y) {
            for (int x = frame.left(); x <= frame.right(); ++x) {
                const QColor pixel = shot.pixelColor(x, y);
                if (std::abs(pixel.lightness() - ink.lightness()) < 24)
                    ++inked;
                if (pixel.lightness() < ground.lightness() - 24)
                    ++dark;
            }
        }
        const double area = double(frame.width()) * frame.height();
        EXPECT_EQ(dark, 0) << symbols[i].toStdString();
        // Strokes: some of the box, never most of it as a blot would.
        EXPECT_GT(inked / area, 0.05) << symbols[i].toStdString();
        EXPECT_LT(inked / area, 0.5) << symbols[i].toStdString();
    }
}
