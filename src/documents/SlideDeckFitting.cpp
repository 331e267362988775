#include "documents/SlideDeckFitting.h"

#include "documents/ZipPackageReader.h"
#include "documents/ZipPackageWriter.h"

#include <QRegularExpression>

#include <cmath>

namespace qv {
namespace {

constexpr double emuPerPoint = 12700;
constexpr qint64 partLimit = 256LL * 1024 * 1024;

std::optional<QSizeF> slideSize(const QByteArray& presentationXml)
{
    static const QRegularExpression size(QStringLiteral("<p:sldSz\\b[^>]*\\bcx=\"(\\d+)\"[^>]*\\bcy=\"(\\d+)\""));
    const QRegularExpressionMatch m = size.match(QString::fromUtf8(presentationXml));
    if (!m.hasMatch())
        return std::nullopt;
    return QSizeF(m.captured(1).toDouble(), m.captured(2).toDouble());
}

} // namespace

QByteArray SlideDeckFitting::fitSlide(const QByteArray& slideXml, QSizeF pageEmu, QSizeF slideEmu)
{
    if (pageEmu.isEmpty() || slideEmu.isEmpty())
        return slideXml;
    const double scale = std::min(slideEmu.width() / pageEmu.width(), slideEmu.height() / pageEmu.height());
    if (std::abs(scale - 1) < 0.002 && std::abs(pageEmu.width() - slideEmu.width()) < 12700)
        return slideXml;
    QString xml = QString::fromUtf8(slideXml);
    const qsizetype tree = xml.indexOf(QLatin1String("<p:spTree"));
    const qsizetype treeEnd = xml.lastIndexOf(QLatin1String("</p:spTree>"));
    if (tree < 0 || treeEnd < tree)
        return slideXml;
    // The tree's own properties come first; the shapes follow them.
    qsizetype shapes = -1;
    const qsizetype props = xml.indexOf(QLatin1String("<p:grpSpPr"), tree);
    if (props >= 0 && props < treeEnd) {
        const qsizetype tagEnd = xml.indexOf(QLatin1Char('>'), props);
        if (tagEnd > 0 && xml[tagEnd - 1] == QLatin1Char('/'))
            shapes = tagEnd + 1;
        else if (const qsizetype close = xml.indexOf(QLatin1String("</p:grpSpPr>"), props); close >= 0 && close < treeEnd)
            shapes = close + int(sizeof("</p:grpSpPr>") - 1);
    }
    if (shapes < 0)
        return slideXml;
    const qint64 width = std::llround(pageEmu.width() * scale);
    const qint64 height = std::llround(pageEmu.height() * scale);
    const qint64 left = std::llround((slideEmu.width() - width) / 2);
    const qint64 top = std::llround((slideEmu.height() - height) / 2);
    const QString group = QStringLiteral(
                              "<p:grpSp><p:nvGrpSpPr><p:cNvPr id=\"%1\" name=\"Page\"/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr>"
                              "<p:grpSpPr><a:xfrm><a:off x=\"%2\" y=\"%3\"/><a:ext cx=\"%4\" cy=\"%5\"/>"
                              "<a:chOff x=\"0\" y=\"0\"/><a:chExt cx=\"%6\" cy=\"%7\"/></a:xfrm></p:grpSpPr>")
                              .arg(999999)
                              .arg(left)
                              .arg(top)
                              .arg(width)
                              .arg(height)
                              .arg(std::llround(pageEmu.width()))
                              .arg(std::llround(pageEmu.height()));
    xml.insert(treeEnd, QLatin1String("</p:grpSp>"));
    xml.insert(shapes, group);
    // Text keeps its place in the scaled drawing.
    static const QRegularExpression textSize(QStringLiteral("(<a:(?:rPr|defRPr|endParaRPr)\\b[^>]*\\bsz=\")(\\d+)\""));
    QString scaled;
    qsizetype last = 0;
    for (auto it = textSize.globalMatch(xml); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        scaled += QStringView(xml).mid(last, m.capturedStart() - last);
        scaled += m.captured(1) + QString::number(std::max<qint64>(100, std::llround(m.captured(2).toDouble() * scale))) + QLatin1Char('"');
        last = m.capturedEnd();
    }
    scaled += QStringView(xml).mid(last);
    return scaled.toUtf8();
}

void SlideDeckFitting::fitPagesToSlides(const QString& deck, const QString& destination, const QList<QSizeF>& pageSizes,
                                        std::stop_token stop)
{
    const ZipPackageReader::Messages messages{QStringLiteral("LibreOffice couldn't convert this file"),
                                              QStringLiteral("LibreOffice couldn't convert this file")};
    std::optional<QSizeF> slide;
    {
        ZipPackageReader reader(deck, messages, stop);
        reader.forEachEntry([&](const QString& name, ZipPackageReader::Entry& entry) {
            if (name == QLatin1String("ppt/presentation.xml"))
                slide = slideSize(entry.readAll(partLimit));
        });
    }
    static const QRegularExpression slideName(QStringLiteral("^ppt/slides/slide([0-9]+)\\.xml$"));
    ZipPackageWriter writer(destination, stop);
    ZipPackageReader reader(deck, messages, stop);
    reader.forEachEntry([&](const QString& name, ZipPackageReader::Entry& entry) {
        QByteArray bytes = entry.readAll(partLimit);
        const QRegularExpressionMatch m = slideName.match(name);
        if (slide && m.hasMatch()) {
            const int index = m.captured(1).toInt() - 1;
            if (index >= 0 && index < pageSizes.size())
                bytes = fitSlide(bytes, pageSizes[index] * emuPerPoint, *slide);
        }
        writer.add(name, bytes, name == QLatin1String("mimetype") ? ZipPackageWriter::Method::stored
                                                                  : ZipPackageWriter::Method::deflated);
    });
    writer.finish();
}

} // namespace qv
