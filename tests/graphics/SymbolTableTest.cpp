#include "graphics/SymbolTable.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

using namespace qv;

TEST(SymbolTable, EverySymbolHasAThemeNameAndADrawnIcon)
{
    // Symbols the job views name directly must be in the table.
    const QStringList names = symbolNames();
    for (const char* needed : {"arrow.triangle.2.circlepath", "tray.and.arrow.down", "exclamationmark.triangle",
                               "checkmark.circle.fill", "exclamationmark.circle.fill", "xmark.octagon.fill",
                               "stop.circle.fill", "xmark", "magnifyingglass", "arrow.up.forward.app",
                               "doc.on.doc", "chevron.right", "archivebox", "hourglass", "lock"})
        EXPECT_TRUE(names.contains(QString::fromLatin1(needed))) << needed;
    EXPECT_GE(names.size(), 90);
    EXPECT_EQ(QStringList(names).removeDuplicates(), 0);

    QIcon::setThemeSearchPaths({});
    QIcon::setThemeName(QString());
    for (const QString& name : names) {
        EXPECT_FALSE(themeIconName(name).isEmpty()) << qPrintable(name);
        const QIcon icon = symbolIcon(name);
        ASSERT_FALSE(icon.isNull()) << qPrintable(name);
        const QImage image = icon.pixmap(24, 24).toImage();
        bool inked = false;
        for (int y = 0; y < image.height() && !inked; ++y)
            for (int x = 0; x < image.width() && !inked; ++x)
                inked = qAlpha(image.pixel(x, y)) > 0;
        EXPECT_TRUE(inked) << qPrintable(name);
    }
    EXPECT_TRUE(themeIconName(QStringLiteral("no.such.symbol")).isEmpty());
    EXPECT_FALSE(symbolIcon(QStringLiteral("no.such.symbol")).isNull());
}

TEST(SymbolTable, PaintsInTheGivenColourWithoutClearingTheBackground)
{
    QImage image(40, 40, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        paintSymbol(painter, QStringLiteral("checkmark.circle.fill"), QRectF(8, 8, 24, 24), Qt::red);
    }
    EXPECT_EQ(image.pixelColor(1, 1), QColor(Qt::white));
    // The tick is cut out of the disc, so the white shows through it, not a hole.
    EXPECT_EQ(image.pixelColor(20, 20).alpha(), 255);
    bool red = false;
    for (int x = 8; x < 32; ++x)
        red = red || image.pixelColor(x, 12) == QColor(Qt::red);
    EXPECT_TRUE(red);
}

// Actions shown side by side have pictures of their own, drawn ones included: Crop, Redact,
// Float and the rectangle; Trim and Edit; Exposure and Warmth; the pen and the highlighter.
TEST(SymbolTable, ActionsSideBySideDrawDifferentPictures)
{
    QIcon::setThemeSearchPaths({});
    QIcon::setThemeName(QString());
    const auto drawn = [](const char* symbol) {
        QImage image(48, 48, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        paintSymbol(painter, QString::fromLatin1(symbol), QRectF(0, 0, 48, 48), Qt::black);
        painter.end();
        return image;
    };
    const QList<QStringList> groups{
        {"crop", "rectangle.dashed.and.paperclip", "pip", "rectangle"},
        {"timeline.selection", "slider.horizontal.3"},
        {"sun.max", "thermometer.medium"},
        {"scribble", "highlighter", "pencil.tip.crop.circle"},
    };
    for (const QStringList& group : groups) {
        for (int a = 0; a < group.size(); ++a) {
            for (int b = a + 1; b < group.size(); ++b) {
                const QImage first = drawn(qPrintable(group[a]));
                const QImage second = drawn(qPrintable(group[b]));
                int differing = 0;
                for (int y = 0; y < 48; ++y)
                    for (int x = 0; x < 48; ++x)
                        differing += std::abs(qAlpha(first.pixel(x, y)) - qAlpha(second.pixel(x, y))) > 128;
                EXPECT_GT(differing, 48) << qPrintable(group[a]) << " and " << qPrintable(group[b]);
            }
        }
    }
}
