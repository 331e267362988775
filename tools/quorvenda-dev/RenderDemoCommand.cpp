#include "Commands.h"
#include "PngFile.h"

#include "app/welcome/DemoView.h"

#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QTextStream>

#include <cmath>

namespace qv::dev {

namespace {

int renderDemoUsage()
{
    QTextStream(stderr) << "usage: quorvenda-dev render-demo --time T [--size WxH] --out FILE.png\n";
    return 2;
}

} // namespace

int renderDemo(const QStringList& args)
{
    std::optional<double> time;
    QSize size(596, 210);
    QString out;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (i + 1 >= args.size())
            return renderDemoUsage();
        const QString value = args[++i];
        if (arg == QLatin1String("--time")) {
            bool ok = false;
            time = value.toDouble(&ok);
            if (!ok || !std::isfinite(*time))
                return renderDemoUsage();
        } else if (arg == QLatin1String("--size")) {
            static const QRegularExpression pattern(QStringLiteral("^(\\d{1,5})x(\\d{1,5})$"));
            const QRegularExpressionMatch match = pattern.match(value);
            if (!match.hasMatch())
                return renderDemoUsage();
            size = QSize(match.captured(1).toInt(), match.captured(2).toInt());
            if (size.width() < 1 || size.height() < 1 || size.width() > 8192 || size.height() > 8192)
                return renderDemoUsage();
        } else if (arg == QLatin1String("--out")) {
            out = value;
        } else {
            return renderDemoUsage();
        }
    }
    if (!time || out.isEmpty())
        return renderDemoUsage();
    if (QFileInfo::exists(out)) {
        QTextStream(stderr) << out << " already exists\n";
        return 1;
    }

    DemoView view;
    view.setFixedSize(size);
    view.setFrozenTime(*time);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(1);
    image.fill(Qt::transparent);
    // Without the window background, the corners outside the rounded shape stay clear.
    view.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    if (!writePng(image, out))
        return 1;
    QTextStream(stdout) << out << ": " << image.width() << "x" << image.height() << "\n";
    return 0;
}

} // namespace qv::dev
