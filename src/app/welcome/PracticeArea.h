#pragma once

#include <QString>
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
        // Drags hear no keys here: a rest on the strip opens the wheels.
        bool opensByRest = false;
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
    // restEdge: where drags hear no keys, the edge setting of the strip a rest on opens the wheels.
    static QString sentenceFor(const std::optional<QString>& convertTrigger,
                               const std::optional<QString>& restEdge = std::nullopt);

    // The start of a drag of the tile: tells the drag watcher (unless paused) and gives what
    // the drag carries, the photo's URL, or nothing without a photo.
    QMimeData* prepareDrag();
    void showPracticeFolder();

Q_SIGNALS:
    void ready();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void photoFound(std::optional<QString> sample, std::optional<QImage> thumbnail);
    void loadThumbnail();
    void startDrag();
    void updateSentence();

    Services m_services;
    std::optional<QString> m_sample;
    bool m_ready = false;
    PracticeTile* m_tile = nullptr;
    QLabel* m_sentence = nullptr;
};

} // namespace qv
