#include "support/ScanFixtures.h"

#include "support/PdfFixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QPainter>
#include <QTemporaryDir>

#include <stdexcept>

namespace qv::test {

QImage scanPicture(const ScanText& text, QSize size) {
    QImage image(size, QImage::Format_Grayscale8);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setPen(Qt::black);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(text.pixelSize);
    painter.setFont(font);
    int baseline = text.pixelSize * 2;
    for (int i = 0; i < text.lines.size(); ++i) {
        painter.drawText(QPoint(text.pixelSize * 2, baseline), text.lines[i]);
        baseline += text.pixelSize * 3 / 2 + text.gapAfter.value(i, 0);
    }
    painter.end();
    return image;
}

QString writeScanPdf(const QString& path, const QList<QImage>& pages, double dpi) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QList<QByteArray> objects; // object n + 1 at index n
    const int count = int(pages.size());
    // 1: catalogue, 2: page tree, then per page: page, content, image.
    QByteArray kids;
    for (int i = 0; i < count; ++i)
        kids += QByteArray::number(3 + i * 3) + " 0 R ";
    objects << "<< /Type /Catalog /Pages 2 0 R >>";
    objects << "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(count) + " >>";
    for (int i = 0; i < count; ++i) {
        const QImage grey = pages[i].convertToFormat(QImage::Format_Grayscale8);
        const double width = grey.width() * 72.0 / dpi;
        const double height = grey.height() * 72.0 / dpi;
        const int content = 4 + i * 3;
        const int image = 5 + i * 3;
        objects << "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " +
                       QByteArray::number(width, 'f', 3) + ' ' +
                       QByteArray::number(height, 'f', 3) + "] /Resources << /XObject << /Scan " +
                       QByteArray::number(image) + " 0 R >> >> /Contents " +
                       QByteArray::number(content) + " 0 R >>";
        const QByteArray draw = "q " + QByteArray::number(width, 'f', 3) + " 0 0 " +
                                QByteArray::number(height, 'f', 3) + " 0 0 cm /Scan Do Q\n";
        objects << "<< /Length " + QByteArray::number(draw.size()) + " >>\nstream\n" + draw +
                       "\nendstream";
        QByteArray rows;
        for (int y = 0; y < grey.height(); ++y)
            rows.append(reinterpret_cast<const char*>(grey.constScanLine(y)), grey.width());
        // qCompress puts the length before the zlib stream.
        const QByteArray packed = qCompress(rows).mid(4);
        objects
            << "<< /Type /XObject /Subtype /Image /Width " + QByteArray::number(grey.width()) +
                   " /Height " + QByteArray::number(grey.height()) +
                   " /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /FlateDecode /Length " +
                   QByteArray::number(packed.size()) + " >>\nstream\n" + packed + "\nendstream";
    }
    QByteArray pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    QList<qsizetype> offsets;
    for (int n = 0; n < objects.size(); ++n) {
        offsets << pdf.size();
        pdf += QByteArray::number(n + 1) + " 0 obj\n" + objects[n] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(pdf) != pdf.size() || !file.flush())
        throw std::runtime_error("cannot write " + path.toStdString());
    return path;
}

QByteArray pdftoppmPage(const QString& pdf, int page, int dpi) {
    QTemporaryDir dir;
    const QString prefix = dir.filePath(QStringLiteral("page"));
    int code = -1;
    toolOutput(QStringLiteral("pdftoppm"),
               {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-f"),
                QString::number(page), QStringLiteral("-l"), QString::number(page),
                QStringLiteral("-singlefile"), pdf, prefix},
               &code);
    QFile file(prefix + QStringLiteral(".ppm"));
    if (code != 0 || !file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

} // namespace qv::test
