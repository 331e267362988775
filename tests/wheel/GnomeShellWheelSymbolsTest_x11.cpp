// The wheel's symbols in a live GNOME Shell session, as the Shell shows them: under Adwaita,
// the icon theme Qt takes from the session, OCR, Redact, Terminal and Copy Path are the theme's
// symbolic icons drawn in the wheel's own ink, with the session's light palette and with a dark
// one, where a symbol left in the theme's own colour would be a dark shape on the dark wheel.

#include "support/HeadlessGnomeShell.h"
#include "support/WaitFor.h"

#include <QColor>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

using namespace qv::test;

namespace {

constexpr int kTimeoutMs = 20000;

struct Symbol {
    QRect box;
    QString icon;
};

// What the wheel's helper told of one wheel it showed.
struct ShownWheel {
    QString theme;
    QColor ink;
    QList<Symbol> symbols;
};

class GnomeShellWheelSymbols : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (HasFailure())
            std::fprintf(stderr, "wheel:\n%s\n", output.right(4000).constData());
        stop();
    }

    void stop()
    {
        if (wheel.state() != QProcess::NotRunning) {
            wheel.kill();
            wheel.waitForFinished(5000);
        }
    }

    // The wheel shown for a file, with the session's palette or a dark one, once it stands
    // still; nothing when the helper did not say so in time.
    std::optional<ShownWheel> show(bool dark)
    {
        stop();
        output.clear();
        QProcessEnvironment env = shell->environment(QProcessEnvironment::systemEnvironment());
        // The session's own look, not the one the machine's user chose for Qt.
        env.remove(QStringLiteral("QT_QPA_PLATFORMTHEME"));
        env.remove(QStringLiteral("QT_STYLE_OVERRIDE"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), files.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), files.filePath(QStringLiteral("cache")));
        wheel.setProcessEnvironment(env);
        wheel.setProcessChannelMode(QProcess::MergedChannels);
        QStringList arguments{QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded)};
        if (dark)
            arguments << QStringLiteral("dark");
        wheel.start(QStringLiteral(QV_BUILD_DIR "/tests/quorvenda_test_gnome_wheel_symbols"), arguments);
        // A machine the Shell keeps busy draws the first wheel late.
        if (!waitFor([&] {
                output += wheel.readAll();
                return output.contains("\nready\n") || wheel.state() == QProcess::NotRunning;
            }, 3 * kTimeoutMs) || !output.contains("\nready\n"))
            return std::nullopt;
        ShownWheel shown;
        for (const QByteArray& line : output.split('\n')) {
            const QList<QByteArray> words = line.split(' ');
            if (words.size() == 2 && words[0] == "theme")
                shown.theme = QString::fromUtf8(words[1]);
            else if (words.size() == 5 && words[0] == "ink")
                shown.ink = QColor::fromRgbF(words[1].toFloat() / 255, words[2].toFloat() / 255,
                                             words[3].toFloat() / 255, words[4].toFloat());
            else if (words.size() == 6 && words[0] == "icon")
                shown.symbols.append({QRect(words[1].toInt(), words[2].toInt(), words[3].toInt(), words[4].toInt()),
                                      QString::fromUtf8(words[5])});
        }
        return shown;
    }

    // The screen once two shots in a row agree on the symbols' boxes.
    QImage settledScreen(const QList<Symbol>& symbols)
    {
        const QString path = files.filePath(QStringLiteral("screen.png"));
        QImage shot;
        QImage before;
        const auto same = [&] {
            for (const Symbol& symbol : symbols) {
                if (before.copy(symbol.box) != shot.copy(symbol.box))
                    return false;
            }
            return true;
        };
        const bool settled = waitFor([&] {
            before = shot;
            shot = shell->screenshot(path).convertToFormat(QImage::Format_RGB32);
            return !shot.isNull() && !before.isNull() && same();
        }, kTimeoutMs);
        return settled ? shot : QImage();
    }

    // Each symbol's box shows strokes in the ink, over the segment's own colour beside it, and
    // nothing darker or lighter than those two.
    void expectInked(const QImage& screen, const ShownWheel& shown, const char* look)
    {
        const QStringList names{"OCR", "Redact", "Terminal", "Copy Path"};
        for (qsizetype i = 0; i < shown.symbols.size(); ++i) {
            const QRect box = shown.symbols[i].box;
            const std::string name = (names.value(i) + QStringLiteral(" (") + QString::fromLatin1(look)
                                      + QLatin1Char(')')).toStdString();
            ASSERT_TRUE(screen.rect().contains(box)) << name;
            const QColor ground = screen.pixelColor(box.left() - 4, box.center().y());
            // The ink as it lands on the segment, see-through as it is.
            const double alpha = shown.ink.alphaF();
            const int ink = int(shown.ink.lightness() * alpha + ground.lightness() * (1 - alpha));
            const int darkest = std::min(ink, ground.lightness()) - 24;
            const int lightest = std::max(ink, ground.lightness()) + 24;
            int inked = 0;
            int astray = 0;
            for (int y = box.top(); y <= box.bottom(); ++y) {
                for (int x = box.left(); x <= box.right(); ++x) {
                    const int lightness = screen.pixelColor(x, y).lightness();
                    if (std::abs(lightness - ink) < 24)
                        ++inked;
                    if (lightness < darkest || lightness > lightest)
                        ++astray;
                }
            }
            const double area = double(box.width()) * box.height();
            EXPECT_EQ(astray, 0) << name << ": ink " << ink << ", ground " << ground.lightness();
            // Strokes: some of the box, never most of it as a blot would.
            EXPECT_GT(inked / area, 0.05) << name;
            EXPECT_LT(inked / area, 0.5) << name;
        }
    }

    std::unique_ptr<GnomeShell> shell;
    QTemporaryDir files;
    QString file;
    QProcess wheel;
    QByteArray output;
};

} // namespace

TEST_F(GnomeShellWheelSymbols, UnderAdwaitaTheSymbolsAreTheThemesSymbolicIconsInTheWheelsInk)
{
    for (const char* program : {"gnome-shell", "Xwayland", "dbus-daemon"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty())
            GTEST_SKIP() << program << " is not installed";
    }
    if (!QFile::exists(QStringLiteral("/usr/share/icons/Adwaita/index.theme")))
        GTEST_SKIP() << "needs adwaita-icon-theme";
    shell = std::make_unique<GnomeShell>(false);
    if (shell->skipped())
        GTEST_SKIP() << shell->output().toStdString();
    ASSERT_TRUE(shell->isRunning()) << shell->output().toStdString();
    ASSERT_TRUE(files.isValid());
    file = files.filePath(QStringLiteral("Scan.png"));
    QImage picture(16, 16, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    ASSERT_TRUE(picture.save(file));

    for (const bool dark : {false, true}) {
        const char* look = dark ? "dark" : "the session's";
        const std::optional<ShownWheel> shown = show(dark);
        ASSERT_TRUE(shown) << look;
        // The theme GNOME's session gives Qt.
        EXPECT_EQ(shown->theme, QStringLiteral("Adwaita"));
        ASSERT_EQ(shown->symbols.size(), 4) << look;
        for (const Symbol& symbol : shown->symbols)
            EXPECT_TRUE(symbol.icon.endsWith(QLatin1String("-symbolic"))) << symbol.icon.toStdString();
        // Light titles on the dark wheel, dark ones on the light wheel.
        EXPECT_EQ(shown->ink.lightness() > 128, dark) << look;
        const QImage screen = settledScreen(shown->symbols);
        ASSERT_FALSE(screen.isNull()) << look;
        expectInked(screen, *shown, look);
        if (HasFatalFailure())
            return;
    }
}
