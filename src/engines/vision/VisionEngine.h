#pragma once

#include "engines/vision/DetectedCode.h"
#include "engines/vision/RecognizedLine.h"

#include <QImage>
#include <QString>

#include <functional>
#include <optional>
#include <stop_token>

namespace qv {

class SubjectMasker;

// Reading pictures: text as lines with their places, barcodes and QR codes, and the subjects
// in front of a background. Stateless; every function runs synchronously on the calling
// thread and may run on several threads at once. Pictures may be in any QImage format;
// transparent parts are read as white. A requested stop ends a call with CancellationError.
class VisionEngine {
public:
    VisionEngine() = delete;

    // The lines of text in the picture, in the order the recogniser found them. `dpi` is the
    // picture's resolution; outside 70...2400 the recogniser estimates it from the glyphs.
    // `progress` hears 0...1 while the recognition runs, on the calling thread.
    static RecognizedLines recognizeText(const QImage& picture, double dpi, const std::stop_token& stop,
                                         const std::function<void(double)>& progress = {});

    // The lines as readable text: rows from the top, each row's lines left to right with one
    // space between them, an empty line before a row that sits far below the previous one.
    static QString joinLines(const RecognizedLines& lines);

    // Every barcode and QR code that can be read, the highest in the picture first, each
    // payload once.
    static DetectedCodes detectBarcodes(const QImage& picture, const std::stop_token& stop);

    // Codes ordered by the vertical centre of their boxes, highest first (stable), without
    // empty payloads and without a payload seen before.
    static DetectedCodes orderedCodes(DetectedCodes codes);

    // The picture with everything outside its subjects transparent, same size, in
    // Format_ARGB32. Throws EngineError "No subject found in this image" when no subject
    // stands out, or when the subject would cover almost nothing or almost everything.
    static QImage liftSubject(const QImage& picture, const std::stop_token& stop);
    static QImage liftSubject(const QImage& picture, const std::stop_token& stop, const SubjectMasker& masker);

    // The subjects over a new background, same size, opaque (Format_RGB32). The background
    // is "blur" (the picture itself, blurred with a radius of a sixtieth of its longer side,
    // at least 12 pixels) or a colour as six hexadecimal digits, with or without "#"; any
    // other text gives white. Throws as liftSubject does.
    static QImage replaceBackground(const QImage& picture, const QString& background, const std::stop_token& stop);
    static QImage replaceBackground(const QImage& picture, const QString& background,
                                    const std::stop_token& stop, const SubjectMasker& masker);

    // The subjects' soft mask (Format_Alpha8, same size); throws as liftSubject does.
    static QImage subjectMask(const QImage& picture, const std::stop_token& stop, const SubjectMasker& masker);

    // Whether the share of a mask's pixels that are mostly opaque, 0...1, counts as a subject.
    static bool isSubjectCoverage(double coverage);

    // The blur radius of the "blur" background for a picture of that size.
    static double backgroundBlurRadius(int width, int height);

    // The folder holding the English recognition data, when it and the vision module are installed.
    static std::optional<QString> textDataFolder();

    // Whether subjects can be lifted on this machine: the subject model and the vision module
    // are installed.
    static bool canLiftSubjects();

    // Gives the subject model the cpu lane's share of the cores.
    static void shareCores(int cpuLaneLimit);

    // The masker liftSubject and replaceBackground use unless given another one.
    static const SubjectMasker& standardMasker();
};

} // namespace qv
