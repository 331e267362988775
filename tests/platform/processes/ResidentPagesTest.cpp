#include "platform/processes/ResidentPages.h"
#include "support/LinkingTables.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QImage>
#include <QJsonDocument>
#include <QPainter>
#include <QRegularExpression>
#include <QTimeZone>

#include <stdexcept>

using namespace qv;

namespace {

// Work through Qt's drawing, text, regular expressions, JSON and exceptions, summed up in a
// digest that tells whether any of it came out differently.
QByteArray work()
{
    QImage image(200, 120, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(40, 120, 200));
    painter.drawEllipse(QRectF(10.5, 10.5, 150, 90));
    painter.end();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayView(image.constBits(), image.sizeInBytes()));
    const QRegularExpression pattern(QStringLiteral("(\\w+)@(\\w+)\\.org"));
    hash.addData(pattern.match(QStringLiteral("write to someone@example.org")).captured(2).toUtf8());
    hash.addData(QJsonDocument::fromJson(R"({"a": [1, 2.5, "three"]})").toJson(QJsonDocument::Compact));
    try {
        throw std::runtime_error("caught");
    } catch (const std::exception& error) {
        hash.addData(QByteArrayView(error.what()));
    }
    return hash.result();
}

int changedAtRunTime = 1;

} // namespace

TEST(ResidentPages, TablesLetGoComeBackUnchangedWhenLookedUpAgain)
{
    const QByteArray before = work();
    changedAtRunTime = 42;
    const qint64 mapped = test::linkingTablesKilobytes(test::ownMappings());
    ASSERT_GT(mapped, 0);

    ASSERT_TRUE(ResidentPages::releaseLinkingTables());
    const qint64 after = test::linkingTablesKilobytes(test::ownMappings());
    EXPECT_LT(after, mapped / 2) << mapped << " kB before, " << after << " kB after";

    // The same results; data changed at run time kept; a function first called now (bound
    // lazily, through the tables let go) found; an exception's unwinding, which reads the
    // headers there, sound.
    EXPECT_EQ(work(), before);
    EXPECT_EQ(changedAtRunTime, 42);
    EXPECT_TRUE(QTimeZone::utc().isValid());
    ASSERT_TRUE(ResidentPages::releaseLinkingTables());
    EXPECT_EQ(work(), before);
}
