#include "Commands.h"
#include "PngFile.h"

#include "app/AppIcon.h"

#include <QColor>
#include <QTextStream>

namespace qv::dev {

namespace {

int renderIconUsage()
{
    QTextStream(stderr) << "usage: quorvenda-dev render-icon (--size N | --tray-panel COLOUR) --out FILE.png\n";
    return 2;
}

} // namespace

int renderIcon(const QStringList& args)
{
    QString out;
    int size = 0;
    QColor panel;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == QLatin1String("--out") && hasValue) {
            out = args[++i];
        } else if (arg == QLatin1String("--size") && hasValue) {
            size = args[++i].toInt();
            if (size < 8 || size > 1024)
                return renderIconUsage();
        } else if (arg == QLatin1String("--tray-panel") && hasValue) {
            panel = QColor(args[++i]);
            if (!panel.isValid())
                return renderIconUsage();
        } else {
            return renderIconUsage();
        }
    }
    if (out.isEmpty() || (size == 0) == !panel.isValid())
        return renderIconUsage();
    const QImage image = size > 0 ? appIconImage(size) : trayIconsOnPanel(panel, 32);
    if (!writePng(image, out))
        return 1;
    QTextStream(stdout) << out << ": " << image.width() << "x" << image.height() << "\n";
    return 0;
}

} // namespace qv::dev
