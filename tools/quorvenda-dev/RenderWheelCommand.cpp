#include "Commands.h"
#include "PngFile.h"

#include "catalogue/ToolRegistry.h"
#include "model/Clock.h"
#include "model/settings/SettingsDefaults.h"
#include "wheel/SourceLabel.h"
#include "wheel/ui/FilePictures.h"
#include "wheel/ui/WheelView.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>
#include <QPainter>
#include <QTextStream>

#include <cmath>
#include <memory>
#include <mutex>

namespace qv::dev {

namespace {

int renderUsage()
{
    QTextStream(stderr)
        << "usage: quorvenda-dev render-wheel convert|tools|actions FILE... --out FILE.png\n"
           "       [--highlight N] [--more] [--scale N] [--sample N]\n";
    return 2;
}

// Time that can be moved past every animation at once.
class SettledClock : public Clock {
public:
    QDateTime now() const override { return m_now; }
    void skip() { m_now = m_now.addSecs(10); }

private:
    QDateTime m_now = QDateTime::currentDateTimeUtc();
};

// Entries that only look like the real ones, to see a full ring and the More ring.
QList<WheelEntry> sampleEntries(WheelKind kind, int count)
{
    static const char* const formats[] = {"PNG", "HEIC", "WEBP", "PDF", "TIFF", "GIF", "AVIF",
                                          "BMP", "JPEG 2000", "ICO", "ICNS", "PSD", "TGA",
                                          "Animated WebP", "Contact Sheet", "Text File"};
    static const char* const tools[][2] = {
        {"Resize", "arrow.up.left.and.arrow.down.right"}, {"Compress", "arrow.down.right.and.arrow.up.left"},
        {"Rotate", "arrow.triangle.2.circlepath"}, {"Crop", "crop"}, {"Remove Metadata", "eye.slash"},
        {"Extract Text", "text.viewfinder"}, {"Read Codes", "qrcode"}, {"Edit Photo", "slider.horizontal.3"},
        {"Annotate", "highlighter"}, {"Make GIF", "photo.stack"}, {"Flip", "arrow.left.and.right.righttriangle.left.righttriangle.right"},
        {"Watermark", "drop"}, {"Add Border", "square.dashed"}, {"Strip Colour", "circle.lefthalf.filled"},
        {"Lift Subject", "person"}, {"Contact Sheet", "square.grid.2x2"}};
    QList<WheelEntry> entries;
    for (int i = 0; i < count; ++i) {
        WheelEntry entry;
        entry.wheel = kind;
        if (kind == WheelKind::convert) {
            entry.title = QString::fromUtf8(formats[i % 16]);
            entry.id = QStringLiteral("sample.%1").arg(i);
        } else {
            entry.title = QString::fromUtf8(tools[i % 16][0]);
            entry.symbol = QString::fromUtf8(tools[i % 16][1]);
            entry.id = QStringLiteral("sample.%1").arg(i);
        }
        entries.append(entry);
    }
    return entries;
}

// The centre's picture as the wheel gets it: the icon at once, then the content's picture when
// one comes in good time.
std::optional<QImage> pictureOf(const QList<FileInfo>& files, int side)
{
    if (files.isEmpty())
        return std::nullopt;
    std::optional<QImage> picture = fileIcon(files.first(), side);
    auto arrived = std::make_shared<std::optional<QImage>>();
    auto lock = std::make_shared<std::mutex>();
    std::stop_source stop;
    loadThumbnail(files.first(), side, stop.get_token(), [arrived, lock](QImage image) {
        const std::lock_guard guard(*lock);
        *arrived = std::move(image);
    });
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 30000) {
        {
            const std::lock_guard guard(*lock);
            if (*arrived)
                return (*arrived)->isNull() ? picture : *arrived;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    stop.request_stop();
    return picture;
}

} // namespace

int renderWheel(const QStringList& args)
{
    std::optional<WheelKind> kind;
    QStringList paths;
    QString out;
    std::optional<int> highlight;
    bool more = false;
    double scale = 1;
    std::optional<int> sample;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        bool ok = true;
        if (arg == QLatin1String("--out") && hasValue) {
            out = args[++i];
        } else if (arg == QLatin1String("--highlight") && hasValue) {
            highlight = args[++i].toInt(&ok);
        } else if (arg == QLatin1String("--scale") && hasValue) {
            scale = args[++i].toDouble(&ok);
            ok = ok && scale >= 1 && scale <= 4;
        } else if (arg == QLatin1String("--sample") && hasValue) {
            sample = args[++i].toInt(&ok);
            ok = ok && *sample >= 0 && *sample <= 30;
        } else if (arg == QLatin1String("--more")) {
            more = true;
        } else if (arg.startsWith(QLatin1String("--"))) {
            return renderUsage();
        } else if (!kind) {
            kind = enumFromString<WheelKind>(arg);
            if (!kind)
                return renderUsage();
        } else {
            paths.append(arg);
        }
        if (!ok)
            return renderUsage();
    }
    if (!kind || paths.isEmpty() || out.isEmpty())
        return renderUsage();
    if (QFileInfo::exists(out)) {
        QTextStream(stderr) << out << " already exists\n";
        return 1;
    }

    registerDefaultSettings();
    QList<FileInfo> files;
    for (const QString& path : paths)
        files.append(fileInfoForURL(fileUrl(path)));
    const WheelContent content = sample
        ? WheelContent::build(*kind, sampleEntries(*kind, *sample), QStringLiteral("Nothing to offer"))
        : ToolRegistry::shared().wheelContentForSelection(files, *kind);

    SettledClock clock;
    WheelView view;
    view.timeline().setClock(clock);
    view.setBackingScale(scale);
    const double d = WheelGeometry::diameterFor(WheelSize::medium);
    const double s = d / 420;
    // What the controller does when it places the panel: a square around the wheel.
    const auto place = [&view, d, s](bool moreOpen) {
        const double half = moreOpen ? (d * 0.5 - 2 + d * 0.17 + 4) + 12 * s : d / 2 + 48 * s;
        const int side = int(std::ceil(2 * half));
        view.resize(side, side);
        view.setDiameter(d);
        view.setWheelCenter(QPointF(side / 2.0, side / 2.0));
        view.relayout();
    };
    QObject::connect(&view, &WheelView::panelResizeRequested, &view, place);

    view.reset();
    place(false);
    view.setSourceLabel(sourceLabel(files));
    view.setFileCount(int(files.size()));
    view.setThumbnail(pictureOf(files, int(std::lround(96 * s * scale))));
    view.layoutCenter();
    view.setContent(content, false);
    if (more)
        view.openMoreRing();
    if (highlight)
        view.setTarget(more && !content.overflow.isEmpty() ? WheelTarget::outer(*highlight)
                                                           : WheelTarget::inner(*highlight),
                       false);
    clock.skip();
    view.timeline().advance();

    QImage image(view.size() * scale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        view.scene().paint(painter);
    }
    if (!writePng(image, out))
        return 1;
    QTextStream(stdout) << out << ": " << image.width() << "x" << image.height() << "\n";
    return 0;
}

} // namespace qv::dev
