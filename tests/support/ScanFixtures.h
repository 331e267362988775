#pragma once

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

namespace qv::test {

// A page picture of dark text lines on white, as a scanner would make it: lines start at the
// left margin, one below the other, `gapAfter` extra pixels after the line of that index.
struct ScanText {
    QStringList lines;
    int pixelSize = 40;
    QList<int> gapAfter; // by line index; missing entries add nothing
};
QImage scanPicture(const ScanText& text, QSize size);

// A PDF of one full-page greyscale picture per page, each page as large as its picture at dpi.
QString writeScanPdf(const QString& path, const QList<QImage>& pages, double dpi = 300);

// The page drawn by pdftoppm at this resolution, as the bytes of its picture.
QByteArray pdftoppmPage(const QString& pdf, int page, int dpi = 40);

} // namespace qv::test
