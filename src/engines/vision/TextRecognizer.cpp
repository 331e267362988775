#include "engines/vision/TextRecognizer.h"

#include "engines/vision/VisionModule.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

namespace qv {

namespace {

const QString kLanguage = QStringLiteral("eng");

bool holdsEnglish(const QString& folder)
{
    const QFileInfo data(QDir(folder).filePath(kLanguage + QStringLiteral(".traineddata")));
    return data.isFile() && data.isReadable() && data.size() > 0;
}

} // namespace

int TextRecognizer::recognizersMade()
{
    return VisionModule::isLoaded() ? VisionModule::loaded().recognizersMade() : 0;
}

std::optional<QString> TextRecognizer::dataFolder()
{
    QStringList candidates;
    const QString prefix = qEnvironmentVariable("TESSDATA_PREFIX");
    if (!prefix.isEmpty())
        candidates << prefix << QDir(prefix).filePath(QStringLiteral("tessdata"));
    candidates << QStringLiteral("/usr/share/tesseract-ocr/5/tessdata")
               << QStringLiteral("/usr/share/tesseract-ocr/4.00/tessdata")
               << QStringLiteral("/usr/share/tessdata")
               << QStringLiteral("/usr/local/share/tessdata");
    for (const QString& folder : candidates) {
        if (holdsEnglish(folder))
            return QDir::cleanPath(folder);
    }
    return std::nullopt;
}

RecognizedLines TextRecognizer::recognize(const QImage& grey, double dpi, const std::stop_token& stop,
                                          const std::function<void(double)>& progress)
{
    Q_ASSERT(grey.format() == QImage::Format_Grayscale8);
    Q_ASSERT(grey.width() <= maxSide && grey.height() <= maxSide);
    throwIfCancelled(stop);
    const std::optional<QString> folder = dataFolder();
    if (!folder) {
        throw EngineError(QStringLiteral("Text recognition isn't available"),
                          QStringLiteral("No %1.traineddata was found").arg(kLanguage));
    }
    return VisionModule::loaded().recognizeText(grey, dpi, *folder, stop, progress);
}

} // namespace qv
