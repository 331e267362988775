#include "model/operations/JobNotes.h"
#include "model/SharedEnums.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace qv;

TEST(JobNotes, CollectsMessagesAndClipboardText)
{
    JobNotes notes;
    EXPECT_FALSE(notes.clipboardText());
    EXPECT_TRUE(notes.messages().isEmpty());

    notes.addClipboardText(QStringLiteral("first"));
    EXPECT_EQ(notes.clipboardText(), QStringLiteral("first"));
    notes.addClipboardText(QStringLiteral("second"));
    EXPECT_EQ(notes.clipboardText(), QStringLiteral("first\n\nsecond"));

    notes.addMessage(QStringLiteral("Text copied to the clipboard"));
    EXPECT_EQ(notes.messages(), QStringList{QStringLiteral("Text copied to the clipboard")});
}

TEST(JobNotes, ManyThreadsAddAtOnce)
{
    JobNotes notes;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&notes] {
            for (int i = 0; i < 500; ++i) {
                notes.addMessage(QStringLiteral("m"));
                notes.addClipboardText(QStringLiteral("c"));
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(notes.messages().size(), 4000);
    EXPECT_EQ(notes.clipboardText()->count(QLatin1Char('c')), 4000);
}

TEST(SharedEnums, NamesAndIdentifiers)
{
    EXPECT_EQ(bundleIdentifier(IWorkApp::pages), QStringLiteral("com.apple.iWork.Pages"));
    EXPECT_EQ(bundleIdentifier(IWorkApp::keynote), QStringLiteral("com.apple.iWork.Keynote"));
    EXPECT_EQ(allCases<WheelKind>(), (QList<WheelKind>{WheelKind::convert, WheelKind::tools,
                                                        WheelKind::actions}));
    EXPECT_EQ(toString(JobLane::external), QStringLiteral("external"));
    EXPECT_EQ(enumFromString<IWorkApp>(QStringLiteral("numbers")), IWorkApp::numbers);
}
