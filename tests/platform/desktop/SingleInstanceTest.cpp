#include "model/files/NativeFileName.h"
#include "platform/desktop/SingleInstance.h"
#include "support/PrivateBusTest.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QProcess>
#include <QStandardPaths>

using namespace qv;

namespace {

// A private session bus, so tests never meet a Quorvenda the developer is running.
class SingleInstanceBus : public test::PrivateBusTest {};

} // namespace

TEST_F(SingleInstanceBus, ASecondProcessHandsItsFilesToTheFirst)
{
    const QDBusConnection first = connection(QStringLiteral("first"));
    const QDBusConnection second = connection(QStringLiteral("second"));
    ASSERT_TRUE(first.isConnected());

    QString error;
    EXPECT_FALSE(SingleInstance::forwardToRunning({QUrl::fromLocalFile("/tmp/a.png")}, &error, second))
        << "nobody runs yet";

    auto primary = std::make_unique<SingleInstance>(first);
    ASSERT_TRUE(primary->registerPrimary());
    QList<QList<QUrl>> received;
    QObject::connect(primary.get(), &SingleInstance::filesReceived,
                     [&](const QList<QUrl>& urls) { received.append(urls); });

    SingleInstance later(second);
    EXPECT_FALSE(later.registerPrimary());
    EXPECT_FALSE(later.isPrimary());

    const QList<QUrl> files{QUrl::fromLocalFile(QStringLiteral("/tmp/a photo.jpg")),
                            QUrl::fromLocalFile(QStringLiteral("/tmp/ü/b.png"))};
    EXPECT_TRUE(SingleInstance::forwardToRunning(files, &error, second));
    EXPECT_EQ(received, QList<QList<QUrl>>{files});

    // Open With of "x\xff.jpg" beside its twin "x\uFFFD.jpg": the name's bytes cross the bus,
    // so the running instance refuses the one and never takes it for the other.
    const QList<QUrl> twins{fileUrlForNativePath("/tmp/x\xff.jpg"), fileUrlForNativePath("/tmp/x\xef\xbf\xbd.jpg")};
    EXPECT_TRUE(SingleInstance::forwardToRunning(twins, &error, second));
    ASSERT_EQ(received.size(), 2);
    EXPECT_EQ(received[1], twins);
    EXPECT_FALSE(fileNameIsReadable(received[1][0]));
    EXPECT_TRUE(fileNameIsReadable(received[1][1]));
    received.removeLast();

    // No file among them: the running instance refuses with the error, and opens nothing.
    for (const QList<QUrl>& none : {QList<QUrl>{}, QList<QUrl>{QUrl("https://example.com/a.png")}}) {
        error.clear();
        EXPECT_FALSE(SingleInstance::forwardToRunning(none, &error, second));
        EXPECT_EQ(error, QStringLiteral("No files were passed to Quorvenda."));
    }
    EXPECT_EQ(received.size(), 1);

    // The command bound to a key in the desktop's settings reaches the running one.
    int conversions = 0;
    QObject::connect(primary.get(), &SingleInstance::convertCopiedRequested, [&] { ++conversions; });
    EXPECT_TRUE(SingleInstance::convertCopiedInRunning(second));
    EXPECT_EQ(conversions, 1);

    // When the first one ends, the name is free for the next.
    primary.reset();
    EXPECT_FALSE(SingleInstance::convertCopiedInRunning(second)) << "nobody runs any more";
    EXPECT_TRUE(later.registerPrimary());
    EXPECT_TRUE(later.isPrimary());
}

TEST(SingleInstance, PathsAndUrlsFromOtherPrograms)
{
    const QStringList given{QStringLiteral("/tmp/a b.jpg"), QStringLiteral("file:///tmp/c%20d.png"),
                            QStringLiteral("file://localhost/tmp/e.pdf"),
                            QStringLiteral("/tmp/x/../f.txt"), QStringLiteral("relative/g.png"),
                            QStringLiteral("https://example.com/h.png"),
                            QStringLiteral("file://far.example.org/tmp/i.png"), QString()};
    EXPECT_EQ(SingleInstance::fileUrls({QStringLiteral("file:///tmp/x%FF.jpg")}),
              QList<QUrl>{fileUrlForNativePath("/tmp/x\xff.jpg")});
    EXPECT_EQ(SingleInstance::fileUrls(given),
              (QList<QUrl>{QUrl::fromLocalFile("/tmp/a b.jpg"), QUrl::fromLocalFile("/tmp/c d.png"),
                           QUrl::fromLocalFile("/tmp/e.pdf"), QUrl::fromLocalFile("/tmp/f.txt")}));
}
