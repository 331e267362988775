#include "support/DevDriver.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QStandardPaths>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace qv;
using namespace qv::test;

namespace {

QByteArray pngOf(int width, int height, QRgb colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// The sizes of the pictures a result carries: those a package holds, a PDF's images, a page's
// data URIs.
QStringList pictureSizes(const QString& result)
{
    QByteArray out;
    const QString script = QStringLiteral(R"PY(
import sys, zipfile, subprocess, re, base64, io
f = sys.argv[1]
def size(b):
    return subprocess.run(['identify', '-format', '%wx%h', '-'], input=b, capture_output=True).stdout.decode()
sizes = []
if f.endswith(('.docx', '.epub', '.odt')):
    z = zipfile.ZipFile(f)
    sizes = [size(z.read(n)) for n in z.namelist() if re.search(r'\.(png|jpe?g|gif)$', n, re.I)]
elif f.endswith('.pdf'):
    rows = subprocess.run(['pdfimages', '-list', f], capture_output=True, text=True).stdout.splitlines()[2:]
    sizes = [r.split()[3] + 'x' + r.split()[4] for r in rows]
else:
    data = open(f, 'rb').read()
    sizes = [size(base64.b64decode(m.group(1))) for m in re.finditer(rb'data:image/[a-z+]+;base64,([A-Za-z0-9+/=]+)', data)]
print(' '.join(sizes))
)PY");
    runProgram(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, result}, &out);
    return QString::fromUtf8(out).simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// Every byte sequence of the file and of the members of a package.
bool carriesBytes(const QString& result, const QByteArray& bytes)
{
    QFile file(result);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    if (file.readAll().contains(bytes))
        return true;
    QTemporaryDir unpacked;
    runProgram(QStringLiteral("unzip"), {QStringLiteral("-qq"), result, QStringLiteral("-d"), unpacked.path()});
    QDirIterator it(unpacked.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        QFile member(info.filePath());
        if (member.open(QIODevice::ReadOnly) && member.readAll().contains(bytes))
            return true;
    }
    return false;
}

} // namespace

// A document someone sends names the reader's private picture by an absolute path, by "../",
// by a file: URL and through a link; only the picture of its own folder may go into a result.
TEST(DocumentPicturesRun, OnlyPicturesOfTheDocumentsOwnFolderAreCarried)
{
    for (const char* tool : {"identify", "pdfimages", "unzip"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            GTEST_SKIP() << tool << " is not installed";
    }
    QTemporaryDir home;
    QTemporaryDir user;
    const QByteArray secret = pngOf(37, 23, qRgb(0x12, 0x34, 0x56));
    const QString privatePicture = writeFile(user.filePath(QStringLiteral("private/photo.png")), secret);
    writeFile(user.filePath(QStringLiteral("doc/pictures/beside.png")), pngOf(16, 16, qRgb(255, 0, 0)));
    const QString docs = user.filePath(QStringLiteral("doc"));
    ASSERT_TRUE(QFile::link(privatePicture, docs + QStringLiteral("/link.png")));
    const QString url = QUrl::fromLocalFile(privatePicture).toString();

    const QString markdown = writeFile(docs + QStringLiteral("/note.md"),
        QStringLiteral("# Note\n\n![a](%1)\n\n![b](../private/photo.png)\n\n![c](%2)\n\n![d](link.png)\n\n"
                       "![e](https://example.com/x.png)\n\n![ok](pictures/beside.png)\n")
            .arg(privatePicture, url).toUtf8());
    const QString html = writeFile(docs + QStringLiteral("/page.html"),
        QStringLiteral("<html><body><h1>Page</h1><p><img src=\"%1\"></p><p><img src=\"../private/photo.png\"></p>"
                       "<p><img src=\"%2\"></p><p><img src=\"link.png\"></p><p><img src=\"pictures/beside.png\"></p>"
                       "</body></html>")
            .arg(privatePicture, url).toUtf8());

    const struct {
        QString source;
        QString note;
        QStringList targets;
    } cases[] = {
        {markdown, QStringLiteral("5 pictures outside the document's folder were left out"),
         {"docx", "epub", "odt", "pdf", "html"}},
        {html, QStringLiteral("4 pictures outside the document's folder were left out"), {"docx", "epub", "odt", "pdf"}},
        {docs + QStringLiteral("/book.epub"), QStringLiteral("2 pictures outside the document's folder were left out"),
         {"docx", "odt", "pdf", "html"}},
        {docs + QStringLiteral("/linked.odt"), QStringLiteral("1 picture outside the document's folder was left out"),
         {"docx", "epub", "pdf", "html"}},
    };
    // A book's pictures are those it carries.
    const QString epub = docs + QStringLiteral("/book.epub");
    const QString makeBook = QStringLiteral(R"PY(
import sys, zipfile
out, secret, beside = sys.argv[1], sys.argv[2], sys.argv[3]
z = zipfile.ZipFile(out, 'w')
z.writestr('mimetype', 'application/epub+zip', compress_type=zipfile.ZIP_STORED)
z.writestr('META-INF/container.xml', '<?xml version="1.0"?><container version="1.0" xmlns="urn:oasis:names:tc:opendocument:xmlns:container"><rootfiles><rootfile full-path="OEBPS/content.opf" media-type="application/oebps-package+xml"/></rootfiles></container>')
z.writestr('OEBPS/content.opf', '<?xml version="1.0"?><package xmlns="http://www.idpf.org/2007/opf" version="3.0" unique-identifier="id"><metadata xmlns:dc="http://purl.org/dc/elements/1.1/"><dc:identifier id="id">x</dc:identifier><dc:title>Book</dc:title><dc:language>en</dc:language></metadata><manifest><item id="c" href="c.xhtml" media-type="application/xhtml+xml"/><item id="p" href="p.png" media-type="image/png"/></manifest><spine><itemref idref="c"/></spine></package>')
z.writestr('OEBPS/c.xhtml', '<?xml version="1.0"?><html xmlns="http://www.w3.org/1999/xhtml"><head><title>C</title></head><body><h1>C</h1><p><img src="%s" alt="a"/></p><p><img src="../../../../../../../../%s" alt="b"/></p><p><img src="p.png" alt="ok"/></p></body></html>' % (secret, secret))
z.write(beside, 'OEBPS/p.png')
z.close()
)PY");
    ASSERT_EQ(runProgram(QStringLiteral("/usr/bin/python3"),
                         {QStringLiteral("-c"), makeBook, epub, privatePicture, docs + QStringLiteral("/pictures/beside.png")}),
              0);
    // An OpenDocument text whose picture is a link to the reader's file: pandoc, which reads
    // it, would copy that file in with the pictures the document carries.
    const QString odt = docs + QStringLiteral("/linked.odt");
    const QString makeLinkedOdt = QStringLiteral(R"PY(
import sys, zipfile, subprocess, re
out, secret, folder = sys.argv[1], sys.argv[2], sys.argv[3]
subprocess.run(['pandoc', '--resource-path', folder, '--to=odt', '-o', out + '.tmp', '-'], input=b'# T\n\n![ok](pictures/beside.png)\n\n![x](pictures/beside.png){width=1in}\n', check=True)
src = zipfile.ZipFile(out + '.tmp')
dst = zipfile.ZipFile(out, 'w')
for item in src.infolist():
    data = src.read(item.filename)
    if item.filename == 'content.xml':
        hrefs = re.findall(rb'xlink:href="(Pictures/[^"]+)"', data)
        assert len(hrefs) == 2
        data = data.replace(b'xlink:href="' + hrefs[0] + b'"', b'xlink:href="' + secret.encode() + b'"', 1)
    dst.writestr(item, data)
dst.close()
import os
os.remove(out + '.tmp')
)PY");
    const bool pandoc = !QStandardPaths::findExecutable(QStringLiteral("pandoc")).isEmpty();
    if (pandoc) {
        ASSERT_EQ(runProgram(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), makeLinkedOdt, odt, privatePicture, docs}), 0);
    }
    for (const auto& c : cases) {
        if (c.source == odt && !pandoc)
            continue;
        for (const QString& target : c.targets) {
            SCOPED_TRACE((QFileInfo(c.source).fileName() + QStringLiteral(" to ") + target).toStdString());
            const DriverRun run = runDriverJob({QStringLiteral("convert.document.") + target, c.source}, home.path());
            ASSERT_EQ(run.code, 0) << run.failure().toStdString();
            ASSERT_EQ(run.outputs().size(), 1);
            const QString result = run.outputs().first();
            EXPECT_EQ(run.messages(), QStringList{c.note});
            EXPECT_EQ(pictureSizes(result), QStringList{QStringLiteral("16x16")});
            EXPECT_FALSE(carriesBytes(result, secret));
            QFile::remove(result);
        }
    }
}

// A note beside more downloads than the look at a folder's depths takes in: its picture a folder
// down is still in sight of the worker that reads it, and in the result.
TEST(DocumentPicturesRun, APictureAFolderDownIsCarriedBesideThousandsOfFiles)
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdfimages")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("identify")).isEmpty())
        GTEST_SKIP() << "pdfimages or identify is not installed";
    QTemporaryDir home;
    QTemporaryDir user;
    for (int i = 0; i < 25000; ++i) {
        QFile file(user.filePath(QStringLiteral("download-%1.txt").arg(i)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    writeFile(user.filePath(QStringLiteral("pictures/beside.png")), pngOf(16, 16, qRgb(255, 0, 0)));
    const QString markdown = writeFile(user.filePath(QStringLiteral("note.md")), "# Note\n\n![near](pictures/beside.png)\n");
    const DriverRun run = runDriverJob({QStringLiteral("convert.document.pdf"), markdown}, home.path());
    ASSERT_EQ(run.code, 0) << run.failure().toStdString();
    ASSERT_EQ(run.outputs().size(), 1);
    EXPECT_EQ(pictureSizes(run.outputs().first()), QStringList{QStringLiteral("16x16")});
}
