#pragma once

#include "engines/pdf/PDFWork.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace qv::test {

// One page of a hand-written PDF.
struct FixturePage {
    FixturePage(QString text = {}, double width = 612, double height = 792, int rotate = 0,
                QImage photo = {})
        : text(std::move(text)), width(width), height(height), rotate(rotate), photo(std::move(photo))
    {
    }
    QString text;            // drawn at (72, 700) in Helvetica 24
    double width = 612;
    double height = 792;
    int rotate = 0;
    QImage photo;            // drawn as a JPEG over the upper left 5 x 5 inches when set
    QByteArray xmp;          // a Flate-compressed /Metadata stream on the page when set
    QByteArray photoXmp;     // an XMP segment inside the photo's JPEG when set
};

struct FixtureDocument {
    QList<FixturePage> pages;
    QMap<QString, QString> info; // "/Title" -> "..."
    QByteArray xmp;              // an uncompressed /Metadata stream on the catalogue when set
    QString outlineTitle;        // an outline entry pointing at page 2 when set
    bool brokenFont = false;     // the text's font a TrueType whose embedded program is no font
};

// Writes the document as a plain PDF with a correct cross-reference table.
QString writeFixturePdf(const QString& path, const FixtureDocument& document);
QString writeTextPdf(const QString& path, const QStringList& pageTexts);
// Pages "One", "Hidden Wombat", "Three", the second under a page-tree node that claims to hold
// no pages: qpdf finds three pages, MuPDF's count-guided walk only two.
QString writeLyingPageTreePdf(const QString& path);
// A text file with a PDF's name.
QString writeJunkPdf(const QString& path);

// One page of 612 x 792 points drawn by this content stream (Flate-compressed), Helvetica as
// /F1.
QString writeContentPdf(const QString& path, const QByteArray& content);
// A PDF of the objects given, numbered from 1, the first being the catalogue; for files that
// hold one odd object among plain ones.
QString writeObjectsPdf(const QString& path, const QList<QByteArray>& objects);

// One page of "abab" set in a Type3 font as TeX's bitmap fonts are: "a" an inline image, "b" a
// form drawn three times.
QString writeType3Pdf(const QString& path);

// Pages made to cost endless work, each a few kilobytes, with "Hostile" in their text:
enum class HostilePage {
    // forms that each draw the next twice, 30 deep: 2^30 drawings
    laughs,
    // the same as an annotation's appearance
    annotationLaughs,
    // the same as the one glyph of a Type3 font, which MuPDF runs while loading the font
    type3Laughs,
    // 14400 points square (the format's largest) with /UserUnit 75000, filled with a tiling
    // pattern stepped 0.002 point: 5 x 10^13 tiles
    tinyTiles,
    // 14400 points square with /UserUnit 75000: a page 380 km wide
    huge,
    // a content stream of 20 million "q Q" and nothing drawn
    emptyOperators,
};
QString writeHostilePdf(const QString& path, HostilePage kind);
// A copy locked with AES-256, the password both user and owner password (qpdf).
QString lockedCopy(const QString& source, const QString& target, const QString& password);
QImage photoImage(int width, int height);
QByteArray xmpPacket(const QString& author);

// Runs a tool and returns its standard output; exit code in *code.
QByteArray toolOutput(const QString& program, const QStringList& args, int* code = nullptr);
// The value of one pdfinfo line ("Pages", "Page size", ...), trimmed; empty when absent.
QString pdfinfoValue(const QString& path, const QString& key, const QString& password = {});
int pageCountOf(const QString& path);
// The page's /Rotate as pdfinfo reads it (page from 1); -1 when it says nothing.
int rotationOf(const QString& path, int page);
// Each page's text through pdftotext, in order.
QStringList pageTexts(const QString& path, const QString& password = {});
// Every byte of the file with its streams decompressed (qpdf --qdf).
QByteArray decompressed(const QString& path);
bool qpdfCheckPasses(const QString& path);

// A PDFWork over a temporary work folder and output folder, placing like the planner does.
struct WorkBench {
    QTemporaryDir root;
    QString workDir;
    QString outDir;
    Progress progress{100};
    std::shared_ptr<JobNotes> notes = std::make_shared<JobNotes>();
    std::stop_source stop;
    PDFWork work(const QString& sourcePath);
    QStringList outputs() const;       // names in the output folder, sorted
    QStringList workLeftovers() const; // names left in the work folder
};

} // namespace qv::test
