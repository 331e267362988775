#include "platform/drags/CombinedDragSource.h"
#include "platform/drags/ModifierFlags.h"
#include "support/FakeDragSource.h"

#include <gtest/gtest.h>

using namespace qv;
using qv::test::FakeDragSource;

TEST(CombinedDragSource, TheBackEndThatSawThePressSpeaksForTheDragUntilItsButtonComesUp)
{
    auto x11Made = std::make_unique<FakeDragSource>();
    auto stripMade = std::make_unique<FakeDragSource>();
    FakeDragSource* x11 = x11Made.get();
    FakeDragSource* strip = stripMade.get();
    std::vector<std::unique_ptr<DragEventSource>> both;
    both.push_back(std::move(x11Made));
    both.push_back(std::move(stripMade));
    CombinedDragSource combined(std::move(both));
    QStringList heard;
    QObject::connect(&combined, &DragEventSource::primaryButtonPressed, [&] { heard << "press"; });
    QObject::connect(&combined, &DragEventSource::primaryButtonReleased, [&] { heard << "release"; });
    QObject::connect(&combined, &DragEventSource::dragSelectionChanged, [&] { heard << "selection"; });
    QObject::connect(&combined, &DragEventSource::dragOfferRead,
                     [&](const DragOffer& offer) { heard << QStringLiteral("offer:%1").arg(offer.uris.size()); });
    QObject::connect(&combined, &DragEventSource::modifiersChanged,
                     [&](quint32 flags) { heard << QStringLiteral("keys:%1").arg(flags, 0, 16); });
    QObject::connect(&combined, &DragEventSource::dwellElapsed, [&] { heard << "dwell"; });

    strip->startResult = false;
    QString why;
    ASSERT_TRUE(combined.start(&why)) << "one back end is enough";
    x11->startResult = false;
    x11->whyNot = QStringLiteral("no X");
    strip->whyNot = QStringLiteral("no strip");
    CombinedDragSource none({});
    EXPECT_FALSE(none.start(&why));

    // A drag out of an X11 program crossing the strip: X11 saw the press, the strip is not heard.
    x11->press();
    strip->press();
    x11->takeSelection();
    strip->takeSelection();
    strip->dwell();
    combined.readDragOffer();
    EXPECT_EQ(x11->readRequests, 1);
    EXPECT_EQ(strip->readRequests, 0);
    x11->answer(QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/tmp/a.png"))});
    x11->modifiers = ModifierFlag::shift;
    EXPECT_EQ(combined.currentModifiers(), ModifierFlag::shift);
    x11->setModifiers(ModifierFlag::shift);
    strip->release();
    x11->release();
    EXPECT_EQ(heard, (QStringList{"press", "selection", "offer:1", "keys:20000", "release"}));

    // Then a native drag on the strip: now it speaks, dwell and all.
    heard.clear();
    strip->modifiers = 0;
    strip->press();
    x11->takeSelection();
    strip->takeSelection();
    strip->dwell();
    combined.nudgePointer();
    EXPECT_EQ(strip->nudges, 1);
    EXPECT_EQ(x11->nudges, 0);
    strip->release();
    EXPECT_EQ(heard, (QStringList{"press", "selection", "dwell", "release"}));

    combined.setCatchersShown(false);
    EXPECT_FALSE(strip->catchersShown);
    EXPECT_FALSE(x11->catchersShown);
}
