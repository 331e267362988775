#pragma once

#include "editors/media/MediaPlayerPort.h"

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <memory>

namespace qv {

class PlayerProcess;
class PlayerSurface;

// The media editor's player in a player process of its own: a file that crashes the decoder
// ends the picture with a sentence, never the application.
class ProcessMediaPlayer : public QObject, public MediaPlayerPort {
    Q_OBJECT
public:
    explicit ProcessMediaPlayer(const QUrl& source, QObject* parent = nullptr);
    ~ProcessMediaPlayer() override;

    // The editor's player: this one, or with QUORVENDA_IN_PROCESS=1 set the in-process one
    // (for comparisons only) where the program installed one: the application does not, so
    // that it never loads the media framework.
    static std::unique_ptr<MediaPlayerPort> make(const QUrl& source);
    using InProcessMaker = std::unique_ptr<MediaPlayerPort> (*)(const QUrl& source);
    static void installInProcessPlayer(InProcessMaker make);

    void play() override;
    void pause() override;
    double rate() const override;
    double position() const override;
    void seek(double seconds, std::function<void()> done) override;
    QWidget* makeSurface(QWidget* parent) override;

    PlayerProcess& process() const { return *m_process; }

private:
    PlayerProcess* m_process;
    QPointer<PlayerSurface> m_surface;
};

} // namespace qv
