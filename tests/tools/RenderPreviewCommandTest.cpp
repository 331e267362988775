#include "documents/sheets/Sheet.h"
#include "documents/sheets/XlsxWriter.h"
#include "support/DevDriver.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace qv;
using namespace qv::test;

namespace {

class RenderPreview : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString path(const QString& name) const { return dir.filePath(name); }

    // A Markdown file written out as another format through the driver.
    QString fromMarkdown(const QString& name, const QByteArray& markdown, const QString& to)
    {
        const QString source = path(name + QStringLiteral(".md"));
        writeFile(source, markdown);
        const QString out = path(name + QLatin1Char('.') + to);
        int code = -1;
        runDevDriver({QStringLiteral("document"), source, QStringLiteral("--to"), to, out}, home.path(), &code);
        EXPECT_EQ(code, 0);
        return out;
    }

    QJsonObject render(const QStringList& files, int index, const QString& out)
    {
        int code = -1;
        const QJsonObject shown = lastJsonLine(runDevDriver(QStringList{QStringLiteral("render-preview")} + files
                                                                + QStringList{QStringLiteral("--index"), QString::number(index),
                                                                              QStringLiteral("--out"), out},
                                                            home.path(), &code));
        EXPECT_EQ(code, 0);
        return shown;
    }

    QTemporaryDir dir;
    QTemporaryDir home;
};

// The share of the picture's columns, right of its middle, where something is drawn.
double drawnRightOfMiddle(const QImage& image, int top, int bottom)
{
    int drawn = 0;
    for (int x = image.width() / 2; x < image.width() - 20; ++x) {
        for (int y = top; y < bottom; ++y) {
            if (qGray(image.pixel(x, y)) < 200) {
                ++drawn;
                break;
            }
        }
    }
    return double(drawn) / (image.width() / 2 - 20);
}

// Whether a shaded row (a table's header) runs from the left edge of the window to the right.
bool shadedAcross(const QImage& image)
{
    const auto shaded = [&](int x, int y) {
        const int grey = qGray(image.pixel(x, y));
        return grey > 200 && grey < 246;
    };
    for (int y = 20; y < image.height() / 2; ++y) {
        if (shaded(30, y) && shaded(image.width() / 2, y) && shaded(image.width() - 45, y))
            return true;
    }
    return false;
}

} // namespace

// Documents, workbooks and archives fill the preview window, keep their text's look, show the
// first part of what is cut with a line saying so, and page through several files.
TEST_F(RenderPreview, DocumentsWorkbooksAndArchivesFillTheWindowAndSayWhatWasLeftOut)
{
    const QString docx = fromMarkdown(QStringLiteral("report"),
                                      "# Report\n\nSome **bold words** and *italic words* in a paragraph long enough "
                                      "to reach across the whole window when it is laid out at its width.\n\n"
                                      "| Region | Sales | Growth |\n|---|---|---|\n| North | 1200 | 4 % |\n",
                                      QStringLiteral("docx"));
    const QString xlsx = path(QStringLiteral("book.xlsx"));
    QList<QStringList> rows{{QStringLiteral("Month"), QStringLiteral("Region"), QStringLiteral("Units"), QStringLiteral("Revenue")}};
    for (int m = 1; m <= 12; ++m)
        rows.append({QStringLiteral("2026-%1").arg(m, 2, 10, QLatin1Char('0')), QStringLiteral("North"),
                     QString::number(m * 13), QString::number(m * 1234)});
    writeXLSX({Sheet{QStringLiteral("Sales"), rows}, Sheet{QStringLiteral("Costs"), {{QStringLiteral("Rent")}}}}, xlsx);
    const QString python = QStringLiteral("/usr/bin/python3");
    if (!QFile::exists(python))
        GTEST_SKIP() << "needs Debian's python3 to make a zip";
    const QString zip = path(QStringLiteral("photos.zip"));
    ASSERT_EQ(runProgram(python, {QStringLiteral("-c"),
                                  QStringLiteral("import zipfile,sys\nz=zipfile.ZipFile(sys.argv[1],'w')\n"
                                                 "[z.writestr('day/photo-%03d.txt'%i,'x'*i) for i in range(260)]\n"),
                                  zip}),
              0);
    const QStringList files{docx, xlsx, zip};

    // The document: bold and italic kept, the text across the window, the position shown.
    const QJsonObject document = render(files, 0, path(QStringLiteral("docx.png")));
    EXPECT_EQ(document.value("state").toString(), QStringLiteral("shown"));
    EXPECT_EQ(document.value("position").toString(), QStringLiteral("1 of 3"));
    const QString html = document.value("html").toString();
    EXPECT_TRUE(html.contains(QStringLiteral("font-weight:700"))) << html.toStdString();
    EXPECT_TRUE(html.contains(QStringLiteral("font-style:italic"))) << html.toStdString();
    EXPECT_EQ(document.value("contentWidth").toInt(), document.value("width").toInt());
    const QImage docxPicture(path(QStringLiteral("docx.png")));
    ASSERT_FALSE(docxPicture.isNull());
    EXPECT_GT(drawnRightOfMiddle(docxPicture, 40, 140), 0.5);

    // A workbook of two sheets: the first sheet's rows, and a line naming the other one.
    const QJsonObject workbook = render(files, 1, path(QStringLiteral("xlsx.png")));
    EXPECT_EQ(workbook.value("state").toString(), QStringLiteral("shown"));
    EXPECT_EQ(workbook.value("position").toString(), QStringLiteral("2 of 3"));
    const QString sheetText = workbook.value("text").toString();
    EXPECT_TRUE(sheetText.contains(QStringLiteral("2026-12"))) << sheetText.toStdString();
    EXPECT_TRUE(sheetText.contains(QStringLiteral("“Costs”"))) << sheetText.toStdString();
    // The table spans the window, not a box in its corner.
    EXPECT_TRUE(shadedAcross(QImage(path(QStringLiteral("xlsx.png")))));

    // An archive of more entries than a preview holds: the first ones, and how many are shown.
    const QJsonObject archive = render(files, 2, path(QStringLiteral("zip.png")));
    EXPECT_EQ(archive.value("state").toString(), QStringLiteral("shown"));
    const QString entries = archive.value("text").toString();
    EXPECT_TRUE(entries.contains(QStringLiteral("day/photo-000.txt"))) << entries.left(300).toStdString();
    EXPECT_TRUE(archive.value("html").toString().contains(QStringLiteral("The first 200 entries are shown.")));
    // As many as it says, beside the row that names the columns.
    const QString laidOut = archive.value("html").toString();
    EXPECT_TRUE(laidOut.contains(QStringLiteral("day/photo-199.txt")));
    EXPECT_FALSE(laidOut.contains(QStringLiteral("day/photo-200.txt")));
    EXPECT_TRUE(shadedAcross(QImage(path(QStringLiteral("zip.png")))));
}

// A book opens on its first chapter of text, not on a title page of two words.
TEST_F(RenderPreview, ABookShowsItsFirstChapterOfText)
{
    QByteArray chapter;
    for (int i = 0; i < 12; ++i)
        chapter += "It was a bright cold day in April, and the clocks were striking thirteen. ";
    const QString epub = fromMarkdown(QStringLiteral("book"),
                                      "# The Title\n\nAn Author\n\n# Chapter One\n\n" + chapter + "\n\n# Chapter Two\n\nMore.\n",
                                      QStringLiteral("epub"));
    const QJsonObject book = render({epub}, 0, path(QStringLiteral("epub.png")));
    EXPECT_EQ(book.value("state").toString(), QStringLiteral("shown"));
    const QString text = book.value("text").toString();
    EXPECT_TRUE(text.contains(QStringLiteral("bright cold day"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("An Author"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Chapter 2 of 3 is shown."))) << text.toStdString();
    // One file: no paging bar.
    EXPECT_TRUE(book.value("position").toString().isEmpty());
}
