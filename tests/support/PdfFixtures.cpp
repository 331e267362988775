#include "support/PdfFixtures.h"

#include "model/files/FileInfo.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QUuid>

namespace qv::test {

namespace {

class PdfBuilder {
public:
    int reserve() { m_objects.append(QByteArray()); return int(m_objects.size()); }
    void set(int id, const QByteArray& body) { m_objects[id - 1] = body; }
    int add(const QByteArray& body) { const int id = reserve(); set(id, body); return id; }
    int addStream(QByteArray dict, const QByteArray& data)
    {
        return add(dict + " /Length " + QByteArray::number(data.size()) + " >>\nstream\n" + data + "\nendstream");
    }
    QByteArray finish(int root, int info)
    {
        QByteArray out = "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n";
        QList<qsizetype> offsets;
        for (qsizetype i = 0; i < m_objects.size(); ++i) {
            offsets.append(out.size());
            out += QByteArray::number(i + 1) + " 0 obj\n" + m_objects[i] + "\nendobj\n";
        }
        const qsizetype xref = out.size();
        out += "xref\n0 " + QByteArray::number(m_objects.size() + 1) + "\n0000000000 65535 f \n";
        for (qsizetype offset : offsets)
            out += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
        out += "trailer\n<< /Size " + QByteArray::number(m_objects.size() + 1) + " /Root "
            + QByteArray::number(root) + " 0 R";
        if (info)
            out += " /Info " + QByteArray::number(info) + " 0 R";
        out += " >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
        return out;
    }

private:
    QList<QByteArray> m_objects;
};

QByteArray ref(int id)
{
    return QByteArray::number(id) + " 0 R";
}

QByteArray pdfString(const QString& text)
{
    QByteArray out = "(";
    for (char c : text.toLatin1()) {
        if (c == '(' || c == ')' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + ")";
}

QByteArray zlib(const QByteArray& data)
{
    return qCompress(data).mid(4);
}

// Hangs the one page under the page tree and the catalogue, and writes the file.
QString finishOnePage(PdfBuilder& b, int catalog, int pages, int page, const QString& path)
{
    b.set(pages, "<< /Type /Pages /Kids [" + ref(page) + "] /Count 1 >>");
    b.set(catalog, "<< /Type /Catalog /Pages " + ref(pages) + " >>");
    QFile file(path);
    const QByteArray bytes = b.finish(catalog, 0);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush())
        return {};
    return path;
}

} // namespace

QString writeFixturePdf(const QString& path, const FixtureDocument& document)
{
    PdfBuilder b;
    const int catalog = b.reserve();
    const int pagesId = b.reserve();
    int font = 0;
    if (document.brokenFont) {
        // Readers draw the text with a font of their own in its place.
        const int program = b.addStream("<<", "NOTAFONT!!");
        const int descriptor = b.add("<< /Type /FontDescriptor /FontName /NoSuchFont /Flags 32 /FontBBox [0 0 1000 1000]"
                                     " /ItalicAngle 0 /Ascent 800 /Descent -200 /CapHeight 700 /StemV 80 /FontFile2 "
                                     + ref(program) + " >>");
        font = b.add("<< /Type /Font /Subtype /TrueType /BaseFont /NoSuchFont /FirstChar 32 /LastChar 126"
                     " /FontDescriptor " + ref(descriptor) + " >>");
    } else {
        font = b.add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    }
    QList<int> kids;
    for (const FixturePage& page : document.pages) {
        QByteArray content;
        QByteArray xobjects;
        if (!page.photo.isNull()) {
            QByteArray jpeg;
            QBuffer buffer(&jpeg);
            buffer.open(QIODevice::WriteOnly);
            page.photo.convertToFormat(QImage::Format_RGB888).save(&buffer, "JPEG", 95);
            if (!page.photoXmp.isEmpty()) {
                const QByteArray payload = QByteArray("http://ns.adobe.com/xap/1.0/", 29) + page.photoXmp;
                const int length = int(payload.size()) + 2;
                jpeg.insert(2, QByteArray("\xFF\xE1") + char(length >> 8) + char(length & 0xFF) + payload);
            }
            const int image = b.addStream(
                "<< /Type /XObject /Subtype /Image /Width " + QByteArray::number(page.photo.width())
                    + " /Height " + QByteArray::number(page.photo.height())
                    + " /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /DCTDecode",
                jpeg);
            xobjects = " /XObject << /Im1 " + ref(image) + " >>";
            content += "q 360 0 0 360 36 " + QByteArray::number(page.height - 400) + " cm /Im1 Do Q\n";
        }
        if (!page.text.isEmpty())
            content += "BT /F1 24 Tf 72 " + QByteArray::number(page.height - 92) + " Td " + pdfString(page.text) + " Tj ET\n";
        const int contents = b.addStream("<<", content);
        QByteArray dict = "<< /Type /Page /Parent " + ref(pagesId) + " /MediaBox [0 0 "
            + QByteArray::number(page.width) + ' ' + QByteArray::number(page.height) + "]"
            + " /Resources << /Font << /F1 " + ref(font) + " >>" + xobjects + " >> /Contents " + ref(contents);
        if (page.rotate)
            dict += " /Rotate " + QByteArray::number(page.rotate);
        if (!page.xmp.isEmpty())
            dict += " /Metadata " + ref(b.addStream("<< /Type /Metadata /Subtype /XML /Filter /FlateDecode", zlib(page.xmp)));
        kids.append(b.add(dict + " >>"));
    }
    QByteArray kidList;
    for (int kid : kids)
        kidList += ref(kid) + ' ';
    b.set(pagesId, "<< /Type /Pages /Kids [" + kidList + "] /Count " + QByteArray::number(kids.size()) + " >>");

    QByteArray root = "<< /Type /Catalog /Pages " + ref(pagesId);
    if (!document.xmp.isEmpty())
        root += " /Metadata " + ref(b.addStream("<< /Type /Metadata /Subtype /XML", document.xmp));
    if (!document.outlineTitle.isEmpty() && kids.size() >= 2) {
        const int outlines = b.reserve();
        const int item = b.add("<< /Title " + pdfString(document.outlineTitle) + " /Parent " + ref(outlines)
                               + " /Dest [" + ref(kids[1]) + " /Fit] >>");
        b.set(outlines, "<< /Type /Outlines /First " + ref(item) + " /Last " + ref(item) + " /Count 1 >>");
        root += " /Outlines " + ref(outlines);
    }
    b.set(catalog, root + " >>");

    int info = 0;
    if (!document.info.isEmpty()) {
        QByteArray dict = "<<";
        for (auto it = document.info.cbegin(); it != document.info.cend(); ++it)
            dict += ' ' + it.key().toLatin1() + ' ' + pdfString(it.value());
        info = b.add(dict + " >>");
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(b.finish(catalog, info)) < 0)
        return {};
    return path;
}

QString writeTextPdf(const QString& path, const QStringList& pageTexts)
{
    FixtureDocument document;
    for (const QString& text : pageTexts)
        document.pages.append(FixturePage{text});
    return writeFixturePdf(path, document);
}

QString writeLyingPageTreePdf(const QString& path)
{
    PdfBuilder b;
    const int catalog = b.reserve();
    const int root = b.reserve();
    const int liar = b.reserve();
    const int font = b.add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    const auto page = [&](int parent, const QByteArray& text) {
        const int contents = b.addStream("<<", "BT /F1 24 Tf 72 700 Td (" + text + ") Tj ET");
        return b.add("<< /Type /Page /Parent " + ref(parent) + " /MediaBox [0 0 612 792] /Resources << /Font << /F1 "
                     + ref(font) + " >> >> /Contents " + ref(contents) + " >>");
    };
    const int one = page(root, "One");
    const int hidden = page(liar, "Hidden Wombat");
    const int three = page(root, "Three");
    b.set(liar, "<< /Type /Pages /Parent " + ref(root) + " /Kids [" + ref(hidden) + "] /Count 0 >>");
    b.set(root, "<< /Type /Pages /Kids [" + ref(one) + ' ' + ref(liar) + ' ' + ref(three) + "] /Count 3 >>");
    b.set(catalog, "<< /Type /Catalog /Pages " + ref(root) + " >>");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(b.finish(catalog, 0)) < 0)
        return {};
    return path;
}

QString writeJunkPdf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write("just some words, not a PDF\n") < 0)
        return {};
    return path;
}

QString writeContentPdf(const QString& path, const QByteArray& content)
{
    PdfBuilder b;
    const int catalog = b.reserve();
    const int pages = b.reserve();
    const int font = b.add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    const int stream = b.addStream("<< /Filter /FlateDecode", zlib(content));
    const int page = b.add("<< /Type /Page /Parent " + ref(pages) + " /MediaBox [0 0 612 792] /Resources << /Font << /F1 "
                           + ref(font) + " >> >> /Contents " + ref(stream) + " >>");
    return finishOnePage(b, catalog, pages, page, path);
}

QString writeObjectsPdf(const QString& path, const QList<QByteArray>& objects)
{
    PdfBuilder b;
    for (const QByteArray& object : objects)
        b.add(object);
    QFile file(path);
    const QByteArray bytes = b.finish(1, 0);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush())
        return {};
    return path;
}

QString writeType3Pdf(const QString& path)
{
    PdfBuilder b;
    const int catalog = b.reserve();
    const int pages = b.reserve();
    const int form = b.addStream("<< /Type /XObject /Subtype /Form /BBox [0 0 1000 1000]",
                                 "0 0 100 100 re f 200 200 100 100 re f");
    const int a = b.addStream("<<", "1000 0 0 0 800 800 d1 q 800 0 0 800 0 0 cm BI /W 8 /H 8 /IM true /BPC 1 "
                                    "/D [1 0] ID \xaa\x55\xaa\x55\xaa\x55" "Do\xaa EI Q");
    const int glyphB = b.addStream("<<", "1000 0 0 0 800 800 d1 /X Do /X Do /X Do");
    const int font = b.add("<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1000 1000] /FontMatrix [0.001 0 0 0.001 0 0]"
                           " /CharProcs << /a " + ref(a) + " /b " + ref(glyphB) + " >> /Encoding << /Type /Encoding"
                           " /Differences [97 /a /b] >> /FirstChar 97 /LastChar 98 /Widths [1000 1000]"
                           " /Resources << /XObject << /X " + ref(form) + " >> >> >>");
    const int stream = b.addStream("<<", "BT /T3 48 Tf 72 700 Td (abab) Tj ET");
    const int page = b.add("<< /Type /Page /Parent " + ref(pages) + " /MediaBox [0 0 612 792] /Resources << /Font << /T3 "
                           + ref(font) + " >> >> /Contents " + ref(stream) + " >>");
    return finishOnePage(b, catalog, pages, page, path);
}

QString writeHostilePdf(const QString& path, HostilePage kind)
{
    PdfBuilder b;
    const int catalog = b.reserve();
    const int pages = b.reserve();
    const int font = b.add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    const QByteArray fonts = "/Font << /F1 " + ref(font) + " >>";
    // Each form draws the next one twice; the last draws a word and a square.
    const auto laughs = [&] {
        int next = b.addStream("<< /Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources << " + fonts + " >>",
                               "BT /F1 12 Tf 72 72 Td (ha) Tj ET 0 0 1 1 re f");
        for (int depth = 0; depth < 30; ++depth)
            next = b.addStream("<< /Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources << /XObject << /X "
                                   + ref(next) + " >> >>",
                               "/X Do /X Do");
        return next;
    };
    const QByteArray text = "BT /F1 24 Tf 72 700 Td (Hostile) Tj ET\n";
    QByteArray box = "[0 0 612 792]";
    QByteArray resources = fonts;
    QByteArray contents = text;
    QByteArray extra;
    switch (kind) {
    case HostilePage::laughs:
        resources += " /XObject << /X0 " + ref(laughs()) + " >>";
        contents += "/X0 Do";
        break;
    case HostilePage::annotationLaughs:
        extra = " /Annots [" + ref(b.add("<< /Type /Annot /Subtype /Square /Rect [0 0 612 792] /F 4 /AP << /N "
                                           + ref(laughs()) + " >> >>")) + "]";
        break;
    case HostilePage::type3Laughs:
        resources = "/Font << /F1 " + ref(font) + " /T3 "
            + ref(b.add("<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1000 1000] /FontMatrix [0.001 0 0 0.001 0 0]"
                        " /CharProcs << /a " + ref(b.addStream("<<", "1000 0 d0 /X Do")) + " >>"
                        " /Encoding << /Type /Encoding /Differences [97 /a] >> /FirstChar 97 /LastChar 97"
                        " /Widths [1000] /Resources << /XObject << /X " + ref(laughs()) + " >> >> >>"))
            + " >>";
        contents += "BT /T3 12 Tf 72 600 Td (a) Tj ET";
        break;
    case HostilePage::tinyTiles:
        box = "[0 0 14400 14400] /UserUnit 75000";
        resources += " /Pattern << /P1 "
            + ref(b.addStream("<< /Type /Pattern /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 0.002 0.002] "
                              "/XStep 0.002 /YStep 0.002 /Resources << >>",
                              "0 0 0.001 0.001 re f"))
            + " >>";
        contents = "BT /F1 400 Tf 100 13000 Td (Hostile) Tj ET /Pattern cs /P1 scn 0 0 14400 14400 re f";
        break;
    case HostilePage::huge:
        box = "[0 0 14400 14400] /UserUnit 75000";
        contents = "0 0 1 rg 0 0 14400 14400 re f 0 g BT /F1 400 Tf 100 13000 Td (Hostile) Tj ET";
        break;
    case HostilePage::emptyOperators:
        contents += QByteArray("q Q\n").repeated(20'000'000);
        break;
    }
    const int stream = b.addStream("<< /Filter /FlateDecode", zlib(contents));
    const int page = b.add("<< /Type /Page /Parent " + ref(pages) + " /MediaBox " + box + " /Resources << "
                           + resources + " >> /Contents " + ref(stream) + extra + " >>");
    return finishOnePage(b, catalog, pages, page, path);
}

QString lockedCopy(const QString& source, const QString& target, const QString& password)
{
    toolOutput(QStringLiteral("qpdf"), {QStringLiteral("--encrypt"), password, password,
                                       QStringLiteral("256"), QStringLiteral("--"), source, target});
    return target;
}

QImage photoImage(int width, int height)
{
    // Smooth colour with fine noise, which JPEG cannot squeeze away at high quality.
    QImage image(width, height, QImage::Format_RGB888);
    quint32 seed = 12345;
    for (int y = 0; y < height; ++y) {
        uchar* line = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = int(seed >> 28) - 8;
            line[3 * x] = uchar(std::clamp(x * 255 / width + noise, 0, 255));
            line[3 * x + 1] = uchar(std::clamp(y * 255 / height + noise, 0, 255));
            line[3 * x + 2] = uchar(std::clamp(128 + noise * 3, 0, 255));
        }
    }
    return image;
}

QByteArray xmpPacket(const QString& author)
{
    return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
           "<rdf:Description xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:creator>"
        + author.toUtf8()
        + "</dc:creator></rdf:Description></rdf:RDF></x:xmpmeta>\n<?xpacket end=\"w\"?>";
}

QByteArray toolOutput(const QString& program, const QStringList& args, int* code)
{
    QProcess process;
    process.start(program, args);
    process.waitForFinished(120000);
    if (code)
        *code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return process.readAllStandardOutput();
}

QString pdfinfoValue(const QString& path, const QString& key, const QString& password)
{
    QStringList args;
    if (!password.isEmpty())
        args << QStringLiteral("-upw") << password;
    args << path;
    const QString out = QString::fromUtf8(toolOutput(QStringLiteral("pdfinfo"), args));
    for (const QString& line : out.split(QLatin1Char('\n'))) {
        if (line.startsWith(key + QLatin1Char(':')))
            return line.mid(key.size() + 1).trimmed();
    }
    return {};
}

int pageCountOf(const QString& path)
{
    bool ok = false;
    const int count = pdfinfoValue(path, QStringLiteral("Pages")).toInt(&ok);
    return ok ? count : -1;
}

int rotationOf(const QString& path, int page)
{
    const QString n = QString::number(page);
    const QString out = QString::fromUtf8(toolOutput(QStringLiteral("pdfinfo"), {"-f", n, "-l", n, path}));
    const QRegularExpression line(QStringLiteral("Page +%1 rot: +(\\d+)").arg(n));
    const QRegularExpressionMatch match = line.match(out);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

QStringList pageTexts(const QString& path, const QString& password)
{
    QStringList args;
    if (!password.isEmpty())
        args << QStringLiteral("-upw") << password;
    args << path << QStringLiteral("-");
    QStringList pages = QString::fromUtf8(toolOutput(QStringLiteral("pdftotext"), args)).split(QLatin1Char('\f'));
    if (!pages.isEmpty() && pages.last().trimmed().isEmpty())
        pages.removeLast();
    for (QString& page : pages)
        page = page.trimmed();
    return pages;
}

QByteArray decompressed(const QString& path)
{
    return toolOutput(QStringLiteral("qpdf"), {QStringLiteral("--qdf"), QStringLiteral("--object-streams=disable"),
                                               path, QStringLiteral("-")});
}

bool qpdfCheckPasses(const QString& path)
{
    int code = -1;
    toolOutput(QStringLiteral("qpdf"), {QStringLiteral("--check"), path}, &code);
    return code == 0;
}

PDFWork WorkBench::work(const QString& sourcePath)
{
    workDir = root.filePath(QStringLiteral("work"));
    outDir = root.filePath(QStringLiteral("out"));
    QDir().mkpath(workDir);
    QDir().mkpath(outDir);
    PDFWork w;
    const QString dir = workDir;
    const QString out = outDir;
    w.workFile = [dir](const QString& extension) {
        return QUrl::fromLocalFile(QDir(dir).filePath(QUuid::createUuid().toString(QUuid::WithoutBraces)
                                                      + QLatin1Char('.') + extension));
    };
    w.workFolder = [dir](const QString& name) {
        const QString path = QDir(dir).filePath(name);
        QDir().mkpath(path);
        return QUrl::fromLocalFile(path);
    };
    w.place = [out](const QUrl& file, const QString& baseName, const QString& extension) {
        const QString target = QDir(out).filePath(extension.isEmpty() ? baseName : baseName + QLatin1Char('.') + extension);
        if (QFileInfo::exists(target) || !QDir().rename(file.toLocalFile(), target))
            throw std::runtime_error("cannot place");
        return QUrl::fromLocalFile(target);
    };
    w.suffix = [](const QString& word) {
        static const QMap<QString, QString> table{
            {"merge", "merged"}, {"split", "parts"}, {"reorder", "reordered"}, {"rotate", "rotated"},
            {"protect", "protected"}, {"unlock", "unlocked"}, {"compress", "compressed"},
            {"removeMetadata", "no metadata"}, {"redact", "redacted"}, {"ocr", "searchable"}};
        return table.value(word);
    };
    w.baseName = splitFileName(QFileInfo(sourcePath).fileName()).baseName;
    w.progress = &progress;
    w.notes = notes;
    w.stop = stop.get_token();
    return w;
}

QStringList WorkBench::outputs() const
{
    QStringList names = QDir(outDir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    names.sort();
    return names;
}

QStringList WorkBench::workLeftovers() const
{
    return QDir(workDir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

} // namespace qv::test
