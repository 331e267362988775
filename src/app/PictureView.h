#pragma once

#include <QImage>
#include <QWidget>

class QMovie;
class QTimer;

namespace qv {

// A picture or an animation scaled to fit, proportions kept, centred. Mouse events go on to
// the window, which drags and closes on them.
class PictureView : public QWidget {
    Q_OBJECT
public:
    explicit PictureView(QWidget* parent = nullptr);

    void setImage(const QImage& image);
    // The file behind the picture and its full size: a view grown past its picture reads a
    // sharper thumbnail of it, off the main thread.
    void setSource(const QString& path, QSize pixels);
    // Takes the movie and starts it.
    void setMovie(QMovie* movie);

    const QImage& image() const { return m_image; }
    bool hasPicture() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void reloadIfBlurry();

    QString m_path;
    QSize m_pixels;
    QTimer* m_reloadTimer = nullptr;
    int m_request = 0; // raised to forget an answer still on its way
    QSize m_loading;
    QImage m_image;
    QMovie* m_movie = nullptr;
};

} // namespace qv
