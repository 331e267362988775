#include "catalogue/ToolRegistry.h"
#include "jobs/FailureTitle.h"

#include <gtest/gtest.h>

using namespace qv;

TEST(FailureTitle, SaysWhatCouldNotBeDoneInTheVerbsBaseForm)
{
    const QList<std::pair<const char*, const char*>> table{
        {"Converting to PNG", "Couldn't convert to PNG"},
        {"Converting to WEBM", "Couldn't convert to WEBM"},
        {"Making a ringtone", "Couldn't make a ringtone"},
        {"Normalizing loudness", "Couldn't normalize loudness"},
        {"Splitting", "Couldn't split"},
        {"Trimming", "Couldn't trim"},
        {"Removing metadata", "Couldn't remove metadata"},
        {"Combining into PDF", "Couldn't combine into PDF"},
        // Already a command: only the first letter changes.
        {"Convert to PNG", "Couldn't convert to PNG"},
        {"Copy Path", "Couldn't copy Path"},
        // An unknown running title still reads as a sentence.
        {"Frobnicating the file", "Couldn't finish frobnicating the file"},
        {"", "Couldn't finish"},
    };
    for (const auto& [title, expected] : table)
        EXPECT_EQ(failureTitle(QString::fromUtf8(title)), QString::fromUtf8(expected)) << title;
}

TEST(FailureTitle, EveryOperationOfTheCatalogueHasItsVerb)
{
    // A running title missing from the table would fall back to "Couldn't finish ...".
    for (const OperationDescriptor& descriptor : ToolRegistry::shared().catalogue()) {
        const QString title = failureTitle(descriptor.verb);
        EXPECT_FALSE(title.startsWith(QStringLiteral("Couldn't finish"))) << qPrintable(descriptor.verb);
        const QString verb = title.mid(9).section(QLatin1Char(' '), 0, 0);
        EXPECT_FALSE(verb.endsWith(QStringLiteral("ing"))) << qPrintable(descriptor.verb);
    }
}
