#pragma once

#include <QWidget>

#include <functional>

class QPushButton;
class QStackedWidget;

namespace qv {

class EditorButtons;
class PhotoAdjustTab;
class PhotoCropTab;
class PhotoSizeTab;
class PhotoEditorModel;
class PhotoPreview;
class SegmentedPicker;

// The photo editor's window content: the preview, the tabs beside it, and Compare, Reset All,
// Cancel and Save Copy underneath.
class PhotoEditorView : public QWidget {
    Q_OBJECT
public:
    PhotoEditorView(PhotoEditorModel* model, std::function<void()> cancel, std::function<void()> apply,
                    QWidget* parent = nullptr);
    ~PhotoEditorView() override;

    PhotoPreview* preview() const { return m_preview; }
    PhotoAdjustTab* adjustTab() const { return m_adjust; }
    PhotoCropTab* cropTab() const { return m_crop; }
    PhotoSizeTab* sizeTab() const { return m_size; }
    QPushButton* compareButton() const { return m_compare; }
    QPushButton* resetAllButton() const { return m_resetAll; }
    EditorButtons* buttons() const { return m_buttons; }

    // The Crop tab's turn and mirror: the model changes at once, the preview springs from the
    // old orientation into the new one, unless the desktop asks for less motion.
    void turnPicture(bool clockwise);
    void mirrorPicture(bool horizontal);

private:
    void refresh();
    void commitTypedField();

    PhotoEditorModel* m_model;
    PhotoPreview* m_preview;
    SegmentedPicker* m_tabs;
    QStackedWidget* m_pages;
    PhotoAdjustTab* m_adjust;
    PhotoCropTab* m_crop;
    PhotoSizeTab* m_size;
    QPushButton* m_compare;
    QPushButton* m_resetAll;
    EditorButtons* m_buttons;
    // A subject lift counts as editor work while it runs.
    bool m_lifting = false;
};

} // namespace qv
