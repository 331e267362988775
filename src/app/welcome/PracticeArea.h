#pragma once

#include <QHash>
#include <QPoint>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <optional>

class QLabel;
class QMimeData;

namespace qv {

class DragWatcher;
class PracticeTile;
class SettingsStore;
class Workspace;

// Where the onboarding window lets the user try the gesture: a practice photo to drag, the
// sentence that says how, and a way to the photo's folder. The photo is looked for, or
// painted and written, once, off the GUI thread; the tile shows a placeholder until then.
class PracticeArea : public QWidget {
    Q_OBJECT
public:
    struct Services {
        SettingsStore* store = nullptr;
        DragWatcher* watcher = nullptr;
        Workspace* workspace = nullptr;
        QString folder; // the practice folder
        // Drags hear no keys here: a rest opens the wheels, on the strip and in this area.
        bool opensByRest = false;
        // The keys of the area's own drag come to the application's windows alone: the area
        // tells the watcher of them.
        bool tellsOwnKeys = false;
    };
    // The process-wide store, drag watcher and desktop, and the default folder.
    static Services defaultServices();

    explicit PracticeArea(Services services, QWidget* parent = nullptr);

    // The photo, once it is found or made; nothing before, or when it cannot be made.
    std::optional<QString> sample() const { return m_sample; }
    // True once the photo was looked for and its thumbnail loaded (or found missing).
    bool isReady() const { return m_ready; }
    PracticeTile* tile() const { return m_tile; }
    QString sentence() const;

    // "Drag the photo, tap <key> while dragging, …": nothing for off, "Shift" for a missing
    // or unknown setting.
    // restEdge: where drags hear no keys, the edge setting of the strip a rest on opens the
    // wheels; the photo held still in the area opens them too, unless rests are off.
    static QString sentenceFor(const std::optional<QString>& convertTrigger,
                               const std::optional<QString>& restEdge = std::nullopt, bool restsOff = false);

    // The start of a drag of the tile: tells the drag watcher (unless paused) and gives what
    // the drag carries, the photo's URL, or nothing without a photo.
    QMimeData* prepareDrag();
    void showPracticeFolder();

Q_SIGNALS:
    void ready();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    // The area's own drag over it: a rest here, and its keys, open the wheel as on the strip.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void photoFound(std::optional<QString> sample, std::optional<QImage> thumbnail);
    void loadThumbnail();
    // Where the photo sits in its window, for a driver of the window from outside.
    void logPlace() const;
    void startDrag();
    void updateSentence();
    // The drag rested: from where it last moved, for the dwell time.
    void restartRest(QPoint at);
    int restMs() const;

    Services m_services;
    std::optional<QString> m_sample;
    bool m_ready = false;
    PracticeTile* m_tile = nullptr;
    QLabel* m_sentence = nullptr;
    bool m_dragging = false;
    QTimer m_rest;
    std::optional<QPoint> m_restFrom;
    bool m_restedHere = false; // one wheel per visit, as on the strip
    QHash<int, quint32> m_heldKeys; // Qt key → ModifierFlag bit
};

} // namespace qv
