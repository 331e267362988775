#include "catalogue/archives/ArchiveProbe.h"
#include "model/operations/Capabilities.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace qv;

namespace {

QByteArray probeResource(const char* name)
{
    QFile file(QStringLiteral(":/probes/") + QLatin1String(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

} // namespace

TEST(ArchiveProbe, ListsTheBundledProbesAndRejectsBadData)
{
    const QByteArray sevenZip = probeResource("probe.7z");
    const QByteArray rar = probeResource("probe.rar");
    EXPECT_TRUE(listArchiveInMemory(sevenZip).isListed());
    EXPECT_TRUE(listArchiveInMemory(rar).isListed());

    const ArchiveListing garbage = listArchiveInMemory("this is not an archive at all");
    EXPECT_EQ(garbage.outcome, ArchiveListing::Outcome::unreadable);
    EXPECT_FALSE(garbage.error.isEmpty());

    EXPECT_EQ(listArchiveInMemory({}).outcome, ArchiveListing::Outcome::unreadable);
    EXPECT_EQ(listArchiveInMemory(sevenZip.left(40)).outcome,
              ArchiveListing::Outcome::unreadable);

    // The stored file's checksum no longer matches: the contents are read, not only names.
    QByteArray damaged = sevenZip;
    const qsizetype at = damaged.lastIndexOf("probe\n");
    ASSERT_GT(at, 0);
    damaged[at] = 'P';
    EXPECT_EQ(listArchiveInMemory(damaged).outcome, ArchiveListing::Outcome::unreadable);
}

TEST(ArchiveProbe, ThisMachineReadsSevenZipAndRar)
{
    const QSet<QString> formats = Capabilities::shared().probeArchiveFormats();
    EXPECT_TRUE(formats.contains("7z"));
    EXPECT_TRUE(formats.contains("rar"));
    for (const QString& base : Capabilities::baseArchiveFormats())
        EXPECT_TRUE(formats.contains(base)) << base.toStdString();
    EXPECT_EQ(formats.size(), 10);
}
