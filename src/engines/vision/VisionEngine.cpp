#include "engines/vision/VisionEngine.h"

#include "engines/vision/BarcodeReader.h"
#include "engines/vision/ModelSubjectMasker.h"
#include "engines/vision/TextRecognizer.h"
#include "engines/vision/VisionModule.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/operations/HexColor.h"

#include <QPainter>
#include <QThread>
#include <QSet>

#include <algorithm>
#include <cmath>

namespace qv {

namespace {

EngineError tooLarge()
{
    return EngineError(QStringLiteral("Not enough memory"), QStringLiteral("No room for a copy of the picture"));
}

// The picture as opaque RGB32, transparent parts on white.
QImage opaquePicture(const QImage& picture)
{
    if (!picture.hasAlphaChannel()) {
        QImage opaque = picture.convertToFormat(QImage::Format_RGB32);
        if (opaque.isNull())
            throw tooLarge();
        return opaque;
    }
    QImage opaque(picture.size(), QImage::Format_RGB32);
    if (opaque.isNull())
        throw tooLarge();
    opaque.fill(Qt::white);
    QPainter painter(&opaque);
    painter.drawImage(0, 0, picture);
    painter.end();
    return opaque;
}

// The picture in grey, transparent parts on white, without an opaque colour copy on the way.
QImage greyPicture(const QImage& picture)
{
    if (!picture.hasAlphaChannel()) {
        QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);
        if (grey.isNull())
            throw tooLarge();
        return grey;
    }
    const QImage colour = picture.convertToFormat(QImage::Format_ARGB32);
    QImage grey(picture.size(), QImage::Format_Grayscale8);
    if (colour.isNull() || grey.isNull())
        throw tooLarge();
    for (int y = 0; y < colour.height(); ++y) {
        const auto* pixel = reinterpret_cast<const QRgb*>(colour.constScanLine(y));
        uchar* out = grey.scanLine(y);
        for (int x = 0; x < colour.width(); ++x) {
            const int alpha = qAlpha(pixel[x]);
            out[x] = uchar((qGray(pixel[x]) * alpha + 255 * (255 - alpha) + 127) / 255);
        }
    }
    return grey;
}

double centreY(const QRectF& box)
{
    return box.y() + box.height() / 2;
}

// Top and bottom in the lower-left coordinates of the boxes.
double topOf(const QRectF& box)
{
    return box.y() + box.height();
}

QRectF unionOf(const QRectF& a, const QRectF& b)
{
    const double left = std::min(a.x(), b.x());
    const double bottom = std::min(a.y(), b.y());
    const double right = std::max(a.x() + a.width(), b.x() + b.width());
    const double top = std::max(topOf(a), topOf(b));
    return QRectF(left, bottom, right - left, top - bottom);
}

} // namespace

RecognizedLines VisionEngine::recognizeText(const QImage& picture, double dpi, const std::stop_token& stop,
                                            const std::function<void(double)>& progress)
{
    throwIfCancelled(stop);
    if (picture.width() < 3 || picture.height() < 3)
        return {};
    QImage grey = greyPicture(picture);
    const int longer = std::max(grey.width(), grey.height());
    if (longer > TextRecognizer::maxSide) {
        // The boxes are normalised, so only the resolution changes with the scale.
        const double scale = double(TextRecognizer::maxSide) / longer;
        grey = grey.scaled(std::min(TextRecognizer::maxSide, int(grey.width() * scale)),
                           std::min(TextRecognizer::maxSide, int(grey.height() * scale)),
                           Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (grey.isNull())
            throw tooLarge();
        dpi *= scale;
    }
    return TextRecognizer::recognize(grey, dpi, stop, progress);
}

QString VisionEngine::joinLines(const RecognizedLines& lines)
{
    RecognizedLines sorted = lines;
    std::stable_sort(sorted.begin(), sorted.end(), [](const RecognizedLine& a, const RecognizedLine& b) {
        return centreY(a.box) > centreY(b.box);
    });

    QList<RecognizedLines> rows;
    for (const RecognizedLine& line : sorted) {
        if (!rows.isEmpty()) {
            const RecognizedLine& first = rows.last().first();
            const double distance = std::abs(centreY(line.box) - centreY(first.box));
            if (distance < std::min(line.box.height(), first.box.height()) / 2) {
                rows.last().append(line);
                continue;
            }
        }
        rows.append(RecognizedLines{line});
    }

    QString text;
    QRectF previous;
    for (qsizetype index = 0; index < rows.size(); ++index) {
        RecognizedLines& row = rows[index];
        std::stable_sort(row.begin(), row.end(), [](const RecognizedLine& a, const RecognizedLine& b) {
            return a.box.x() < b.box.x();
        });
        QStringList texts;
        QRectF box = row.first().box;
        for (const RecognizedLine& line : row) {
            texts.append(line.text);
            box = unionOf(box, line.box);
        }
        if (index > 0) {
            const double gap = previous.y() - topOf(box);
            text += gap <= 1.5 * box.height() ? QStringLiteral("\n") : QStringLiteral("\n\n");
        }
        text += texts.join(QLatin1Char(' '));
        previous = box;
    }
    return text;
}

DetectedCodes VisionEngine::detectBarcodes(const QImage& picture, const std::stop_token& stop)
{
    throwIfCancelled(stop);
    if (picture.isNull())
        return {};
    const QImage grey = greyPicture(picture);
    throwIfCancelled(stop);
    DetectedCodes codes = orderedCodes(BarcodeReader::read(grey));
    throwIfCancelled(stop);
    return codes;
}

DetectedCodes VisionEngine::orderedCodes(DetectedCodes codes)
{
    std::stable_sort(codes.begin(), codes.end(), [](const DetectedCode& a, const DetectedCode& b) {
        return centreY(a.box) > centreY(b.box);
    });
    DetectedCodes ordered;
    QSet<QString> seen;
    for (const DetectedCode& code : codes) {
        if (code.payload.isEmpty() || seen.contains(code.payload))
            continue;
        seen.insert(code.payload);
        ordered.append(code);
    }
    return ordered;
}

bool VisionEngine::isSubjectCoverage(double coverage)
{
    return coverage >= 0.005 && coverage <= 0.95;
}

double VisionEngine::backgroundBlurRadius(int width, int height)
{
    return std::max(std::max(width, height) / 60.0, 12.0);
}

QImage VisionEngine::subjectMask(const QImage& picture, const std::stop_token& stop, const SubjectMasker& masker)
{
    throwIfCancelled(stop);
    if (picture.isNull())
        throw EngineError(QStringLiteral("No subject found in this image"), QStringLiteral("The picture is empty"));
    QImage mask = masker.subjectMask(opaquePicture(picture), stop);
    throwIfCancelled(stop);
    if (mask.size() != picture.size())
        throw EngineError(QStringLiteral("Couldn't find the subject of this image"),
                          QStringLiteral("The mask does not match the picture's size"));
    if (mask.format() != QImage::Format_Alpha8)
        mask = mask.convertToFormat(QImage::Format_Alpha8);

    qint64 opaque = 0;
    for (int y = 0; y < mask.height(); ++y) {
        const uchar* line = mask.constScanLine(y);
        opaque += std::count_if(line, line + mask.width(), [](uchar value) { return value >= 128; });
    }
    const double coverage = double(opaque) / (qint64(mask.width()) * mask.height());
    if (!isSubjectCoverage(coverage)) {
        throw EngineError(QStringLiteral("No subject found in this image"),
                          QStringLiteral("The subject would cover %1 % of the picture").arg(coverage * 100, 0, 'f', 2));
    }
    return mask;
}

QImage VisionEngine::liftSubject(const QImage& picture, const std::stop_token& stop)
{
    return liftSubject(picture, stop, standardMasker());
}

QImage VisionEngine::liftSubject(const QImage& picture, const std::stop_token& stop, const SubjectMasker& masker)
{
    const QImage mask = subjectMask(picture, stop, masker);
    QImage lifted = picture.convertToFormat(QImage::Format_ARGB32);
    if (lifted.isNull())
        throw tooLarge();
    for (int y = 0; y < lifted.height(); ++y) {
        auto* pixel = reinterpret_cast<QRgb*>(lifted.scanLine(y));
        const uchar* alpha = mask.constScanLine(y);
        for (int x = 0; x < lifted.width(); ++x)
            pixel[x] = qRgba(qRed(pixel[x]), qGreen(pixel[x]), qBlue(pixel[x]), qAlpha(pixel[x]) * alpha[x] / 255);
    }
    return lifted;
}

QImage VisionEngine::replaceBackground(const QImage& picture, const QString& background, const std::stop_token& stop)
{
    return replaceBackground(picture, background, stop, standardMasker());
}

QImage VisionEngine::replaceBackground(const QImage& picture, const QString& background,
                                       const std::stop_token& stop, const SubjectMasker& masker)
{
    const QImage mask = subjectMask(picture, stop, masker);
    QImage result = opaquePicture(picture);
    QImage backdrop;
    if (background == QLatin1String("blur")) {
        backdrop = VisionModule::loaded().blurred(result, backgroundBlurRadius(result.width(), result.height()));
    } else {
        backdrop = QImage(result.size(), QImage::Format_RGB32);
        if (backdrop.isNull())
            throw tooLarge();
        backdrop.fill(colorFromHex(background).value_or(QColor(Qt::white)));
    }
    throwIfCancelled(stop);

    const auto blend = [](int subject, int back, int weight) {
        return (subject * weight + back * (255 - weight) + 127) / 255;
    };
    for (int y = 0; y < result.height(); ++y) {
        auto* pixel = reinterpret_cast<QRgb*>(result.scanLine(y));
        const auto* back = reinterpret_cast<const QRgb*>(backdrop.constScanLine(y));
        const uchar* weight = mask.constScanLine(y);
        for (int x = 0; x < result.width(); ++x) {
            pixel[x] = qRgb(blend(qRed(pixel[x]), qRed(back[x]), weight[x]),
                            blend(qGreen(pixel[x]), qGreen(back[x]), weight[x]),
                            blend(qBlue(pixel[x]), qBlue(back[x]), weight[x]));
        }
    }
    return result;
}

std::optional<QString> VisionEngine::textDataFolder()
{
    if (!VisionModule::installed())
        return std::nullopt;
    return TextRecognizer::dataFolder();
}

bool VisionEngine::canLiftSubjects()
{
    return ModelSubjectMasker::modelPath().has_value() && VisionModule::installed();
}

void VisionEngine::shareCores(int cpuLaneLimit)
{
    ModelSubjectMasker::setThreads(QThread::idealThreadCount() / std::max(1, cpuLaneLimit));
}

const SubjectMasker& VisionEngine::standardMasker()
{
    static const ModelSubjectMasker masker;
    return masker;
}

} // namespace qv
