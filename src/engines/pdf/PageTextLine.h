#pragma once

#include <QImage>
#include <QList>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <functional>
#include <stop_token>

namespace qv {

// One line of text read from a picture of a page. The box is in normalised picture
// coordinates, 0 to 1 on both axes, origin at the lower left.
struct PageTextLine {
    QString text;
    QRectF box;
};

using PageTextLines = QList<PageTextLine>;

// Reads the lines of a page picture drawn at dpi. Called on several threads at once; each call
// runs on the thread that renders the page.
using PageTextReader =
    std::function<PageTextLines(const QImage& picture, double dpi, std::stop_token stop)>;

// Reads the payloads of the codes in a page picture, highest first, each once.
using PageCodeReader = std::function<QStringList(const QImage& picture, std::stop_token stop)>;

} // namespace qv
