#pragma once

#include <QImage>
#include <QList>
#include <QWidget>

#include <functional>

class QLineEdit;
class QPushButton;

namespace qv {

class AnnotateCanvas;
class AnnotateModel;
class AnnotateSwatch;
class EditorButtons;
class SegmentedPicker;

// The annotate editor's window content: tools, colours and Undo above the picture, the text
// field over it while a text is being placed, Cancel and Save Copy underneath.
class AnnotateView : public QWidget {
    Q_OBJECT
public:
    AnnotateView(const QImage& image, AnnotateModel* model, std::function<void()> cancel,
                 std::function<void()> apply, QWidget* parent = nullptr);

    static const QList<QString>& colors();

    AnnotateCanvas* canvas() const { return m_canvas; }
    SegmentedPicker* toolPicker() const { return m_tools; }
    const QList<AnnotateSwatch*>& swatches() const { return m_swatches; }
    QPushButton* undoButton() const { return m_undo; }
    QLineEdit* textField() const { return m_field; }
    EditorButtons* buttons() const { return m_buttons; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();
    void refreshText();
    void placeTextField();

    AnnotateModel* m_model;
    SegmentedPicker* m_tools = nullptr;
    QList<AnnotateSwatch*> m_swatches;
    QPushButton* m_undo = nullptr;
    AnnotateCanvas* m_canvas = nullptr;
    QLineEdit* m_field = nullptr;
    EditorButtons* m_buttons = nullptr;
};

} // namespace qv
