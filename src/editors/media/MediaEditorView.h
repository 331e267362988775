#pragma once

#include "editors/media/MediaEditorActions.h"
#include "editors/media/MediaEditorLayout.h"
#include "editors/media/TrimEditor.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QPushButton;
class QSpinBox;
class QStackedWidget;

namespace qv {

class BusyIndicator;
class EditorButtons;
class Filmstrip;
class MediaPlayerPort;
class MediaTimeline;
class SegmentedPicker;

// The media editor's content: picture, transport and strip, readouts, the mode's controls and
// the buttons. It keeps nothing of its own: everything lives in the timeline.
class MediaEditorView : public QWidget {
    Q_OBJECT
public:
    MediaEditorView(MediaTimeline* timeline, MediaPlayerPort* player, TrimEditor::Mode mode,
                    const MediaEditorLayout& layout, MediaEditorActions actions, std::function<void()> cancel,
                    QWidget* parent = nullptr);

    Filmstrip* filmstrip() const { return m_strip; }
    // The busy signs over the picture (none for sound) and over the strip.
    BusyIndicator* pictureBusy() const { return m_pictureBusy; }
    BusyIndicator* stripBusy() const { return m_stripBusy; }
    EditorButtons* buttons() const { return m_buttons; }

private:
    void refresh();
    void refreshTime();
    void refreshBusy();

    QPointer<MediaTimeline> m_timeline;
    TrimEditor::Mode m_mode;
    MediaEditorActions m_actions;
    QPushButton* m_play = nullptr;
    Filmstrip* m_strip = nullptr;
    QLabel* m_left = nullptr;
    QLabel* m_middle = nullptr;
    QLabel* m_right = nullptr;
    SegmentedPicker* m_picker = nullptr;
    QStackedWidget* m_splitRows = nullptr;
    QPushButton* m_addSplit = nullptr;
    QPushButton* m_clear = nullptr;
    QLabel* m_hint = nullptr;
    QSpinBox* m_parts = nullptr;
    QSpinBox* m_seconds = nullptr;
    EditorButtons* m_buttons = nullptr;
    BusyIndicator* m_pictureBusy = nullptr;
    BusyIndicator* m_stripBusy = nullptr;
};

} // namespace qv
