#pragma once

#include "model/operations/Annotation.h"
#include "model/operations/OperationOptions.h"

#include <QList>
#include <QObject>
#include <QPointF>
#include <QSizeF>
#include <QString>

#include <optional>

namespace qv {

// The marks of the annotate editor, in pixels of the full picture (origin top-left, y down,
// never clamped to the picture). Main thread.
class AnnotateModel : public QObject {
    Q_OBJECT
public:
    explicit AnnotateModel(QSizeF pixelSize, QObject* parent = nullptr);

    static inline const QString defaultColorHex = QStringLiteral("#FF3B30");

    QSizeF pixelSize() const { return m_pixelSize; }
    const QList<Annotation>& annotations() const { return m_annotations; }
    const std::optional<Annotation>& draft() const { return m_draft; }
    Annotation::Kind tool() const { return m_tool; }
    QString colorHex() const { return m_colorHex; }
    QString textInput() const { return m_textInput; }
    std::optional<QPointF> textPoint() const { return m_textPoint; }

    void setAnnotations(const QList<Annotation>& annotations);
    void setDraft(const std::optional<Annotation>& draft);
    void setTool(Annotation::Kind tool);
    void setColorHex(const QString& hex);
    void setTextInput(const QString& text);
    // Opens the text field there with an empty text; none closes it.
    void setTextPoint(std::optional<QPointF> point);

    // max(L / 220, 2) and max(L / 28, 14), L the picture's longer side.
    double lineWidth() const;
    double fontSize() const;

    // The pending text becomes a text mark unless it is blank; the field closes either way.
    void commitText();
    // Takes back the newest mark; the draft and the text field stay as they are.
    void undo();

    // A pending text that would make a mark.
    bool hasPendingText() const;
    // Marks exist, or the pending text shows on screen and would be saved.
    bool canSave() const;
    // What Save Copy hands to the job: only the marks, the pending text committed first since
    // the user sees it on the picture. A mark still being dragged is left out.
    OperationOptions saveCopyOptions();

Q_SIGNALS:
    void annotationsChanged();
    void draftChanged();
    void toolChanged();
    void colorChanged();
    void textChanged(); // the text or its point

private:
    QSizeF m_pixelSize;
    QList<Annotation> m_annotations;
    std::optional<Annotation> m_draft;
    Annotation::Kind m_tool = Annotation::Kind::arrow;
    QString m_colorHex = defaultColorHex;
    QString m_textInput;
    std::optional<QPointF> m_textPoint;
};

} // namespace qv
