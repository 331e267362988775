#pragma once

#include <QImage>
#include <QWidget>

class QMovie;

namespace qv {

// A picture or an animation scaled to fit, proportions kept, centred. Mouse events go on to
// the window, which drags and closes on them.
class PictureView : public QWidget {
    Q_OBJECT
public:
    explicit PictureView(QWidget* parent = nullptr);

    void setImage(const QImage& image);
    // Takes the movie and starts it.
    void setMovie(QMovie* movie);

    const QImage& image() const { return m_image; }
    bool hasPicture() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;
    QMovie* m_movie = nullptr;
};

} // namespace qv
