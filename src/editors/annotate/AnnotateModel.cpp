#include "editors/annotate/AnnotateModel.h"

#include <algorithm>

namespace qv {

AnnotateModel::AnnotateModel(QSizeF pixelSize, QObject* parent) : QObject(parent), m_pixelSize(pixelSize) {}

void AnnotateModel::setAnnotations(const QList<Annotation>& annotations)
{
    if (annotations == m_annotations)
        return;
    m_annotations = annotations;
    Q_EMIT annotationsChanged();
}

void AnnotateModel::setDraft(const std::optional<Annotation>& draft)
{
    if (draft == m_draft)
        return;
    m_draft = draft;
    Q_EMIT draftChanged();
}

void AnnotateModel::setTool(Annotation::Kind tool)
{
    if (tool == m_tool)
        return;
    m_tool = tool;
    Q_EMIT toolChanged();
}

void AnnotateModel::setColorHex(const QString& hex)
{
    if (hex == m_colorHex)
        return;
    m_colorHex = hex;
    Q_EMIT colorChanged();
}

void AnnotateModel::setTextInput(const QString& text)
{
    if (text == m_textInput)
        return;
    m_textInput = text;
    Q_EMIT textChanged();
}

void AnnotateModel::setTextPoint(std::optional<QPointF> point)
{
    if (point == m_textPoint && m_textInput.isEmpty())
        return;
    m_textPoint = point;
    m_textInput.clear();
    Q_EMIT textChanged();
}

double AnnotateModel::lineWidth() const
{
    return std::max(std::max(m_pixelSize.width(), m_pixelSize.height()) / 220.0, 2.0);
}

double AnnotateModel::fontSize() const
{
    return std::max(std::max(m_pixelSize.width(), m_pixelSize.height()) / 28.0, 14.0);
}

bool AnnotateModel::hasPendingText() const
{
    return m_textPoint && !m_textInput.trimmed().isEmpty();
}

void AnnotateModel::commitText()
{
    const QString text = m_textInput.trimmed();
    if (m_textPoint && !text.isEmpty()) {
        Annotation mark;
        mark.kind = Annotation::Kind::text;
        mark.points = {*m_textPoint};
        mark.colorHex = m_colorHex;
        mark.lineWidth = lineWidth();
        mark.text = text;
        mark.fontSize = fontSize();
        m_annotations.append(mark);
        Q_EMIT annotationsChanged();
    }
    if (m_textPoint || !m_textInput.isEmpty()) {
        m_textInput.clear();
        m_textPoint.reset();
        Q_EMIT textChanged();
    }
}

void AnnotateModel::undo()
{
    if (m_annotations.isEmpty())
        return;
    m_annotations.removeLast();
    Q_EMIT annotationsChanged();
}

bool AnnotateModel::canSave() const
{
    return !m_annotations.isEmpty() || hasPendingText();
}

OperationOptions AnnotateModel::saveCopyOptions()
{
    commitText();
    OperationOptions options;
    options.annotations = m_annotations;
    return options;
}

} // namespace qv
