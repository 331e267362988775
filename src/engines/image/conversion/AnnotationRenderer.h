#pragma once

#include "model/operations/Annotation.h"

#include <QImage>
#include <QList>

class QPainter;

namespace qv {

// The annotate editor's drawings burnt into a picture. The editor's canvas draws with the same
// drawAnnotation, so what is saved is what was seen.
class AnnotationRenderer {
public:
    AnnotationRenderer() = delete;

    // A new picture of the same size with the annotations over it in list order. Needs a
    // QGuiApplication for text. Throws EngineError "Not enough memory for this image".
    static QImage renderAnnotations(const QList<Annotation>& annotations, const QImage& picture);

    // One annotation in picture coordinates; one short of points or text draws nothing. An
    // unreadable colour draws red.
    static void drawAnnotation(QPainter& painter, const Annotation& annotation);

    // The arrow head's length for a line width.
    static double arrowHeadLength(double lineWidth);
};

} // namespace qv
