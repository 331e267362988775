#pragma once

#include "catalogue/isolated/IsolatedPictureReading.h"

#include <QImage>
#include <QWidget>

#include <memory>
#include <optional>
#include <stop_token>

class QTimer;

namespace qv {

// A picture or an animation scaled to fit, proportions kept, centred. Mouse events go on to
// the window, which drags and closes on them.
class PictureView : public QWidget {
    Q_OBJECT
public:
    explicit PictureView(QWidget* parent = nullptr);
    ~PictureView() override;

    void setImage(const QImage& image);
    // The file behind the picture and its full size: a view grown past its picture reads a
    // sharper thumbnail of it, off the main thread.
    void setSource(const QString& path, QSize pixels);
    // Reads the source's frames for a box of that many device pixels off the main thread (in a
    // worker once isolation is on) and plays them once they arrive; the picture shown until
    // then stays, and stays for good when the file has no animation to play. A view grown
    // past its frames reads them again, larger.
    void loadAnimation(QSize box);
    // Plays the frames, each for its delay, as often as their loop count says, and stops on
    // the last.
    void setAnimation(IsolatedPictureReading::Animation animation);

    const QImage& image() const { return m_image; }
    bool hasPicture() const;
    bool isAnimated() const { return m_animation.has_value(); }
    int frameIndex() const { return m_frame; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void reloadIfBlurry();
    void showFrame(int index);
    void nextFrame();

    QString m_path;
    QSize m_pixels;
    QTimer* m_reloadTimer = nullptr;
    int m_request = 0; // raised to forget an answer still on its way
    QSize m_loading;
    QImage m_image;

    std::optional<IsolatedPictureReading::Animation> m_animation;
    QSize m_animationBox; // asked for last; empty when the view shows a still picture
    QTimer* m_frameTimer = nullptr;
    int m_frame = 0;
    int m_playsLeft = 0; // after the current one; -1 forever
    // Readings still running stop when the view goes.
    std::stop_source m_stop;
};

} // namespace qv
