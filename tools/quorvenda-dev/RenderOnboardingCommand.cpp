#include "Commands.h"
#include "PngFile.h"

#include "app/welcome/DemoView.h"
#include "app/welcome/OnboardingWindowController.h"
#include "model/settings/SettingsDefaults.h"

#include <QEventLoop>
#include <QImage>
#include <QPainter>
#include <QTextStream>
#include <QTimer>

namespace qv::dev {

namespace {

int renderOnboardingUsage()
{
    QTextStream(stderr) << "usage: quorvenda-dev render-onboarding --out FILE.png [--time T]\n";
    return 2;
}

} // namespace

int renderOnboarding(const QStringList& args)
{
    QString out;
    double time = 2.5;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == QLatin1String("--out") && hasValue) {
            out = args[++i];
        } else if (arg == QLatin1String("--time") && hasValue) {
            bool ok = false;
            time = args[++i].toDouble(&ok);
            if (!ok || time < 0)
                return renderOnboardingUsage();
        } else {
            return renderOnboardingUsage();
        }
    }
    if (out.isEmpty())
        return renderOnboardingUsage();

    registerDefaultSettings();
    OnboardingView* view = OnboardingWindowController::shared().window();
    view->demo()->setFrozenTime(time);
    // Laid out and shown as on screen, without a window appearing.
    view->setAttribute(Qt::WA_DontShowOnScreen);
    view->show();
    PracticeArea* practice = view->practiceArea();
    if (!practice->isReady()) {
        QEventLoop loop;
        QObject::connect(practice, &PracticeArea::ready, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (!practice->sample())
        QTextStream(stderr) << "The practice photo could not be made\n";

    view->adjustSize();
    QImage image(view->size(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(1);
    image.fill(view->palette().color(QPalette::Window));
    view->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return writePng(image, out) ? 0 : 1;
}

} // namespace qv::dev
