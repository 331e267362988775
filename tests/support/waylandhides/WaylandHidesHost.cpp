// Windows that draw all the time, shown and hidden again and again as the application's wheel
// and pills are: four at once, each hidden through FramedHide, or plainly with "plain". It
// prints "hidden N M" (M of them by FramedHide's time limit) and exits 0 once every window hid
// as often as asked; a hide that frees a frame callback twice aborts it in libwayland instead.

#include "platform/wayland/FramedHide.h"
#include "support/Say.h"

#include <QGuiApplication>
#include <QPainter>
#include <QRandomGenerator>
#include <QRasterWindow>
#include <QTimer>

#include <chrono>
#include <memory>
#include <vector>

using namespace qv;

namespace {

class Busy : public QRasterWindow {
public:
    Busy(int cycles, bool plain) : m_cycles(cycles), m_plain(plain)
    {
        resize(160, 120);
        connect(&m_draw, &QTimer::timeout, this, [this] {
            if (isVisible())
                update();
        });
        m_draw.start(2);
        QTimer::singleShot(100, this, &Busy::step);
    }

    int hidden = 0;
    int byLimit = 0;
    std::function<void()> done;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(QRect(QPoint(), size()), QColor::fromHsv(m_hue++ % 360, 200, 200));
    }

private:
    void step()
    {
        if (hidden >= m_cycles) {
            done();
            return;
        }
        if (!isVisible()) {
            show();
            // Long enough to be on screen and drawing, as a wheel is when it closes.
            QTimer::singleShot(int(QRandomGenerator::global()->bounded(40, 70)), this, &Busy::step);
            return;
        }
        if (m_plain) {
            hide();
            hidden++;
            QTimer::singleShot(int(QRandomGenerator::global()->bounded(1, 20)), this, &Busy::step);
            return;
        }
        const auto asked = std::chrono::steady_clock::now();
        FramedHide::run(this, [this, asked] {
            hide();
            hidden++;
            if (std::chrono::steady_clock::now() - asked >= std::chrono::milliseconds(FramedHide::limitMs))
                byLimit++;
            QTimer::singleShot(int(QRandomGenerator::global()->bounded(1, 20)), this, &Busy::step);
        });
    }

    const int m_cycles;
    const bool m_plain;
    QTimer m_draw;
    int m_hue = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const int cycles = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 150;
    const bool plain = argc > 2 && qstrcmp(argv[2], "plain") == 0;
    std::vector<std::unique_ptr<Busy>> windows;
    int finished = 0;
    for (int i = 0; i < 4; ++i) {
        windows.push_back(std::make_unique<Busy>(cycles, plain));
        windows.back()->done = [&] {
            if (++finished < int(windows.size()))
                return;
            int hidden = 0;
            int byLimit = 0;
            for (const auto& window : windows) {
                hidden += window->hidden;
                byLimit += window->byLimit;
            }
            qv::test::say(QStringLiteral("hidden %1 %2").arg(hidden).arg(byLimit));
            app.quit();
        };
    }
    return app.exec();
}
