#include "documents/writers/PictureSlides.h"

#include "documents/writers/XMLNamespaces.h"
#include "documents/writers/ZipPackageWriter.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"

#include <QFile>
#include <QImageReader>

#include <algorithm>
#include <cmath>

namespace qv {

namespace {

const QString xmlDeclaration = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n");

QString ns(const char* key)
{
    return XMLNamespaces::value(QString::fromLatin1(key));
}

QByteArray part(const QString& body)
{
    return (xmlDeclaration + body).toUtf8();
}

qint64 emu(double points)
{
    return qint64(std::llround(points * 12700.0));
}

QString number(qint64 value)
{
    return QString::number(value);
}

QString relationship(const QString& id, const char* type, const QString& target)
{
    return QStringLiteral("<Relationship Id=\"") + id + QStringLiteral("\" Type=\"") + ns(type)
        + QStringLiteral("\" Target=\"") + target + QStringLiteral("\"/>");
}

QString relationships(const QString& items)
{
    return QStringLiteral("<Relationships xmlns=\"") + ns("packageRelationships") + QStringLiteral("\">") + items
        + QStringLiteral("</Relationships>");
}

QString namespaces()
{
    return QStringLiteral(" xmlns:a=\"") + ns("drawingMain") + QStringLiteral("\" xmlns:r=\"")
        + ns("officeRelationships") + QStringLiteral("\" xmlns:p=\"") + ns("presentationMain") + QLatin1Char('"');
}

const QString emptyTree = QStringLiteral(
    "<p:nvGrpSpPr><p:cNvPr id=\"1\" name=\"\"/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr><p:grpSpPr><a:xfrm>"
    "<a:off x=\"0\" y=\"0\"/><a:ext cx=\"0\" cy=\"0\"/><a:chOff x=\"0\" y=\"0\"/><a:chExt cx=\"0\" cy=\"0\"/>"
    "</a:xfrm></p:grpSpPr>");

QString contentTypes(int slides, bool png, bool jpeg)
{
    QString xml = QStringLiteral("<Types xmlns=\"") + ns("contentTypes")
        + QStringLiteral("\"><Default Extension=\"rels\" "
                         "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                         "<Default Extension=\"xml\" ContentType=\"application/xml\"/>");
    if (png)
        xml += QStringLiteral("<Default Extension=\"png\" ContentType=\"image/png\"/>");
    if (jpeg)
        xml += QStringLiteral("<Default Extension=\"jpeg\" ContentType=\"image/jpeg\"/>");
    xml += QStringLiteral(
        "<Override PartName=\"/ppt/presentation.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml\"/>"
        "<Override PartName=\"/ppt/slideMasters/slideMaster1.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.presentationml.slideMaster+xml\"/>"
        "<Override PartName=\"/ppt/slideLayouts/slideLayout1.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.presentationml.slideLayout+xml\"/>"
        "<Override PartName=\"/ppt/theme/theme1.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.theme+xml\"/>"
        "<Override PartName=\"/ppt/presProps.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.presentationml.presProps+xml\"/>"
        "<Override PartName=\"/ppt/viewProps.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.presentationml.viewProps+xml\"/>"
        "<Override PartName=\"/ppt/tableStyles.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.presentationml.tableStyles+xml\"/>"
        "<Override PartName=\"/docProps/core.xml\" "
        "ContentType=\"application/vnd.openxmlformats-package.core-properties+xml\"/>"
        "<Override PartName=\"/docProps/app.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.extended-properties+xml\"/>");
    for (int i = 1; i <= slides; ++i)
        xml += QStringLiteral("<Override PartName=\"/ppt/slides/slide") + number(i)
            + QStringLiteral(".xml\" ContentType=\"application/vnd.openxmlformats-officedocument.presentationml."
                             "slide+xml\"/>");
    return xml + QStringLiteral("</Types>");
}

QString presentation(int slides, QSizeF size)
{
    QString list;
    for (int i = 1; i <= slides; ++i)
        list += QStringLiteral("<p:sldId id=\"") + number(255 + i) + QStringLiteral("\" r:id=\"rId")
            + number(i + 1) + QStringLiteral("\"/>");
    return QStringLiteral("<p:presentation") + namespaces()
        + QStringLiteral(" saveSubsetFonts=\"1\"><p:sldMasterIdLst><p:sldMasterId id=\"2147483648\" "
                         "r:id=\"rId1\"/></p:sldMasterIdLst><p:sldIdLst>")
        + list + QStringLiteral("</p:sldIdLst><p:sldSz cx=\"") + number(emu(size.width()))
        + QStringLiteral("\" cy=\"") + number(emu(size.height()))
        + QStringLiteral("\"/><p:notesSz cx=\"6858000\" cy=\"9144000\"/></p:presentation>");
}

QString presentationRelationships(int slides)
{
    QString items = relationship(QStringLiteral("rId1"), "relSlideMaster", QStringLiteral("slideMasters/slideMaster1.xml"));
    for (int i = 1; i <= slides; ++i)
        items += relationship(QStringLiteral("rId") + number(i + 1), "relSlide",
                              QStringLiteral("slides/slide") + number(i) + QStringLiteral(".xml"));
    items += relationship(QStringLiteral("rId") + number(slides + 2), "relTheme", QStringLiteral("theme/theme1.xml"));
    items += relationship(QStringLiteral("rId") + number(slides + 3), "relPresProps", QStringLiteral("presProps.xml"));
    items += relationship(QStringLiteral("rId") + number(slides + 4), "relViewProps", QStringLiteral("viewProps.xml"));
    items += relationship(QStringLiteral("rId") + number(slides + 5), "relTableStyles", QStringLiteral("tableStyles.xml"));
    return relationships(items);
}

QString slideMaster()
{
    return QStringLiteral("<p:sldMaster") + namespaces() + QStringLiteral("><p:cSld><p:bg><p:bgPr><a:solidFill>"
                                                                          "<a:srgbClr val=\"FFFFFF\"/></a:solidFill>"
                                                                          "<a:effectLst/></p:bgPr></p:bg><p:spTree>")
        + emptyTree
        + QStringLiteral("</p:spTree></p:cSld><p:clrMap bg1=\"lt1\" tx1=\"dk1\" bg2=\"lt2\" tx2=\"dk2\" "
                         "accent1=\"accent1\" accent2=\"accent2\" accent3=\"accent3\" accent4=\"accent4\" "
                         "accent5=\"accent5\" accent6=\"accent6\" hlink=\"hlink\" folHlink=\"folHlink\"/>"
                         "<p:sldLayoutIdLst><p:sldLayoutId id=\"2147483649\" r:id=\"rId1\"/></p:sldLayoutIdLst>"
                         "</p:sldMaster>");
}

QString slideLayout()
{
    return QStringLiteral("<p:sldLayout") + namespaces()
        + QStringLiteral(" type=\"blank\" preserve=\"1\"><p:cSld name=\"Blank\"><p:spTree>") + emptyTree
        + QStringLiteral("</p:spTree></p:cSld><p:clrMapOvr><a:masterClrMapping/></p:clrMapOvr></p:sldLayout>");
}

QString theme()
{
    const auto colour = [](const char* name, const char* value) {
        return QStringLiteral("<a:") + QLatin1String(name) + QStringLiteral("><a:srgbClr val=\"")
            + QLatin1String(value) + QStringLiteral("\"/></a:") + QLatin1String(name) + QLatin1Char('>');
    };
    const QString solid = QStringLiteral("<a:solidFill><a:schemeClr val=\"phClr\"/></a:solidFill>");
    const QString line = QStringLiteral("<a:ln w=\"6350\"><a:solidFill><a:schemeClr val=\"phClr\"/></a:solidFill>"
                                        "</a:ln>");
    const QString effect = QStringLiteral("<a:effectStyle><a:effectLst/></a:effectStyle>");
    return QStringLiteral("<a:theme xmlns:a=\"") + ns("drawingMain")
        + QStringLiteral("\" name=\"Office\"><a:themeElements><a:clrScheme name=\"Office\">")
        + QStringLiteral("<a:dk1><a:sysClr val=\"windowText\" lastClr=\"000000\"/></a:dk1>"
                         "<a:lt1><a:sysClr val=\"window\" lastClr=\"FFFFFF\"/></a:lt1>")
        + colour("dk2", "44546A") + colour("lt2", "E7E6E6") + colour("accent1", "4472C4")
        + colour("accent2", "ED7D31") + colour("accent3", "A5A5A5") + colour("accent4", "FFC000")
        + colour("accent5", "5B9BD5") + colour("accent6", "70AD47") + colour("hlink", "0563C1")
        + colour("folHlink", "954F72")
        + QStringLiteral("</a:clrScheme><a:fontScheme name=\"Office\"><a:majorFont><a:latin typeface=\"Calibri\"/>"
                         "<a:ea typeface=\"\"/><a:cs typeface=\"\"/></a:majorFont><a:minorFont>"
                         "<a:latin typeface=\"Calibri\"/><a:ea typeface=\"\"/><a:cs typeface=\"\"/></a:minorFont>"
                         "</a:fontScheme><a:fmtScheme name=\"Office\"><a:fillStyleLst>")
        + solid + solid + solid + QStringLiteral("</a:fillStyleLst><a:lnStyleLst>") + line + line + line
        + QStringLiteral("</a:lnStyleLst><a:effectStyleLst>") + effect + effect + effect
        + QStringLiteral("</a:effectStyleLst><a:bgFillStyleLst>") + solid + solid + solid
        + QStringLiteral("</a:bgFillStyleLst></a:fmtScheme></a:themeElements><a:objectDefaults/>"
                         "<a:extraClrSchemeLst/></a:theme>");
}

QString slide(int index, const QRectF& frame)
{
    const QString n = number(index);
    return QStringLiteral("<p:sld") + namespaces() + QStringLiteral("><p:cSld><p:spTree>") + emptyTree
        + QStringLiteral("<p:pic><p:nvPicPr><p:cNvPr id=\"2\" name=\"Page ") + n
        + QStringLiteral("\"/><p:cNvPicPr><a:picLocks noChangeAspect=\"1\"/></p:cNvPicPr><p:nvPr/></p:nvPicPr>"
                         "<p:blipFill><a:blip r:embed=\"rId2\"/><a:stretch><a:fillRect/></a:stretch></p:blipFill>"
                         "<p:spPr><a:xfrm><a:off x=\"")
        + number(emu(frame.x())) + QStringLiteral("\" y=\"") + number(emu(frame.y()))
        + QStringLiteral("\"/><a:ext cx=\"") + number(emu(frame.width())) + QStringLiteral("\" cy=\"")
        + number(emu(frame.height()))
        + QStringLiteral("\"/></a:xfrm><a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></p:spPr></p:pic>"
                         "</p:spTree></p:cSld><p:clrMapOvr><a:masterClrMapping/></p:clrMapOvr></p:sld>");
}

QString coreProperties()
{
    return QStringLiteral("<cp:coreProperties xmlns:cp=\"") + ns("coreProperties") + QStringLiteral("\" xmlns:dc=\"")
        + ns("dc") + QStringLiteral("\"><dc:creator>Quorvenda</dc:creator></cp:coreProperties>");
}

QString packageRelationships()
{
    return relationships(relationship(QStringLiteral("rId1"), "relOfficeDocument", QStringLiteral("ppt/presentation.xml"))
                         + relationship(QStringLiteral("rId2"), "relCoreProperties", QStringLiteral("docProps/core.xml"))
                         + relationship(QStringLiteral("rId3"), "relExtendedProperties", QStringLiteral("docProps/app.xml")));
}

QString extendedProperties(int slides)
{
    return QStringLiteral("<Properties xmlns=\"") + ns("extendedProperties") + QStringLiteral("\" xmlns:vt=\"")
        + ns("docPropsVTypes") + QStringLiteral("\"><Application>Quorvenda</Application><Slides>") + number(slides)
        + QStringLiteral("</Slides></Properties>");
}

// The parts PowerPoint keeps beside every presentation, with nothing set.
QString presentationProperties()
{
    return QStringLiteral("<p:presentationPr") + namespaces() + QStringLiteral("/>");
}

QString viewProperties()
{
    return QStringLiteral("<p:viewPr") + namespaces() + QStringLiteral("/>");
}

QString tableStyles()
{
    return QStringLiteral("<a:tblStyleLst xmlns:a=\"") + ns("drawingMain")
        + QStringLiteral("\" def=\"{5C22544A-7EE6-4342-B048-85BDC9FD1C3A}\"/>");
}

struct Picture {
    QByteArray bytes;
    QString ext;
    QSize pixels;
};

Picture readPicture(const QString& path)
{
    QImageReader reader(path);
    const QByteArray format = reader.format();
    const QSize pixels = reader.size();
    QFile file(path);
    if ((format != "png" && format != "jpeg") || pixels.isEmpty() || !file.open(QIODevice::ReadOnly))
        throw EngineError(QStringLiteral("Couldn't read the page pictures"), path);
    Picture picture{file.readAll(), QString::fromLatin1(format), pixels};
    if (file.error() != QFile::NoError)
        throw EngineError(QStringLiteral("Couldn't read the page pictures"), file.errorString());
    return picture;
}

} // namespace

QSizeF PictureSlides::slideSizeFor(QSizeF page)
{
    const double longer = std::max(page.width(), page.height());
    if (!(longer > 0))
        return {longerSide, longerSide * 3 / 4};
    const double scale = longerSide / longer;
    return {std::max(page.width() * scale, shortestSide), std::max(page.height() * scale, shortestSide)};
}

QRectF PictureSlides::pictureFrame(QSize pixels, QSizeF slide)
{
    if (pixels.isEmpty())
        return {QPointF(), slide};
    const double scale = std::min(slide.width() / pixels.width(), slide.height() / pixels.height());
    const QSizeF size(pixels.width() * scale, pixels.height() * scale);
    return {QPointF((slide.width() - size.width()) / 2, (slide.height() - size.height()) / 2), size};
}

void PictureSlides::imagesToSlides(QSizeF slideSize, const QStringList& pictures, const QString& destination,
                                   std::stop_token stop)
{
    using M = ZipPackageWriter::Method;
    // The content types name the kinds of picture the package holds.
    bool png = false;
    bool jpeg = false;
    for (const QString& path : pictures) {
        const QByteArray format = QImageReader(path).format();
        png = png || format == "png";
        jpeg = jpeg || format == "jpeg";
    }
    const int count = int(pictures.size());
    ZipPackageWriter zip(destination, stop);
    zip.add(QStringLiteral("[Content_Types].xml"), part(contentTypes(count, png, jpeg)), M::deflated);
    zip.add(QStringLiteral("_rels/.rels"), part(packageRelationships()), M::deflated);
    zip.add(QStringLiteral("docProps/core.xml"), part(coreProperties()), M::deflated);
    zip.add(QStringLiteral("docProps/app.xml"), part(extendedProperties(count)), M::deflated);
    zip.add(QStringLiteral("ppt/presentation.xml"), part(presentation(count, slideSize)), M::deflated);
    zip.add(QStringLiteral("ppt/presProps.xml"), part(presentationProperties()), M::deflated);
    zip.add(QStringLiteral("ppt/viewProps.xml"), part(viewProperties()), M::deflated);
    zip.add(QStringLiteral("ppt/tableStyles.xml"), part(tableStyles()), M::deflated);
    zip.add(QStringLiteral("ppt/_rels/presentation.xml.rels"), part(presentationRelationships(count)), M::deflated);
    zip.add(QStringLiteral("ppt/slideMasters/slideMaster1.xml"), part(slideMaster()), M::deflated);
    zip.add(QStringLiteral("ppt/slideMasters/_rels/slideMaster1.xml.rels"),
            part(relationships(relationship(QStringLiteral("rId1"), "relSlideLayout",
                                            QStringLiteral("../slideLayouts/slideLayout1.xml"))
                               + relationship(QStringLiteral("rId2"), "relTheme", QStringLiteral("../theme/theme1.xml")))),
            M::deflated);
    zip.add(QStringLiteral("ppt/slideLayouts/slideLayout1.xml"), part(slideLayout()), M::deflated);
    zip.add(QStringLiteral("ppt/slideLayouts/_rels/slideLayout1.xml.rels"),
            part(relationships(relationship(QStringLiteral("rId1"), "relSlideMaster",
                                            QStringLiteral("../slideMasters/slideMaster1.xml")))),
            M::deflated);
    zip.add(QStringLiteral("ppt/theme/theme1.xml"), part(theme()), M::deflated);
    for (int i = 1; i <= count; ++i) {
        throwIfCancelled(stop);
        const Picture picture = readPicture(pictures[i - 1]);
        const QString media = QStringLiteral("image") + number(i) + QLatin1Char('.') + picture.ext;
        // The pictures are compressed already.
        zip.add(QStringLiteral("ppt/media/") + media, picture.bytes, M::stored);
        zip.add(QStringLiteral("ppt/slides/slide") + number(i) + QStringLiteral(".xml"),
                part(slide(i, pictureFrame(picture.pixels, slideSize))), M::deflated);
        zip.add(QStringLiteral("ppt/slides/_rels/slide") + number(i) + QStringLiteral(".xml.rels"),
                part(relationships(relationship(QStringLiteral("rId1"), "relSlideLayout",
                                                QStringLiteral("../slideLayouts/slideLayout1.xml"))
                                   + relationship(QStringLiteral("rId2"), "relImage",
                                                  QStringLiteral("../media/") + media))),
                M::deflated);
    }
    zip.finish();
}

} // namespace qv
