#include "support/CodePictures.h"
#include "support/TestFiles.h"

#include "catalogue/tools/VisionTools.h"
#include "jobs/OutputPlanner.h"
#include "model/errors/EngineError.h"
#include "model/operations/Progress.h"
#include "model/settings/SettingsSnapshot.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QFont>
#include <QPainter>
#include <QTemporaryDir>

using namespace qv;
using namespace qv::test;

namespace {

// Runs a body as a work item would: one file, its own notes and planner.
struct Item {
    QTemporaryDir dir;
    SettingsSnapshot settings;
    OperationContext context;
    std::optional<OutputPlanner> planner;
    Progress progress{100};

    explicit Item(const QString& path) {
        FileInfo file;
        file.url = QUrl::fromLocalFile(path);
        file.name = QFileInfo(path).fileName();
        context.files = {file};
        context.notes = std::make_shared<JobNotes>();
        planner.emplace(QUrl::fromLocalFile(path), settings, context.notes);
    }
    ~Item() { planner->removeWorkDirectory(); }
    QUrl url() const { return context.files.first().url; }
};

QString errorOf(const std::function<void()>& work) {
    try {
        work();
    } catch (const EngineError& error) {
        return error.message();
    }
    return QStringLiteral("no error");
}

QString savePicture(const QImage& image, const QString& path) {
    EXPECT_TRUE(image.save(path));
    return path;
}

QImage codesSheet(const QList<std::pair<std::string, QPoint>>& codes) {
    QImage sheet(900, 900, QImage::Format_RGB32);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    for (const auto& [payload, at] : codes)
        painter.drawImage(at, qrCodePicture(payload, 240));
    return sheet;
}

} // namespace

TEST(VisionTools, CopiedNoteShortensLongPayloads) {
    const QString sixty(60, QLatin1Char('a'));
    EXPECT_EQ(copiedNote(sixty), "Copied: " + sixty);
    const QString sixtyOne = QString(57, QLatin1Char('b')) + "cdef";
    EXPECT_EQ(copiedNote(sixtyOne), "Copied: " + QString(57, QLatin1Char('b')) + QChar(0x2026));
    EXPECT_TRUE(QFileInfo(textLayerFontFile()).isFile());
}

TEST(VisionTools, ImageCodesGoToTheClipboardUpperFirst) {
    QTemporaryDir dir;
    const QString twice =
        savePicture(codesSheet({{"Same code", {40, 40}}, {"Same code", {500, 560}}}),
                    dir.filePath("twice.png"));
    {
        Item item(twice);
        readImageCodes(item.url(), item.context, *item.planner, item.progress);
        EXPECT_EQ(item.context.notes->messages(), QStringList{"Copied: Same code"});
        EXPECT_EQ(item.context.notes->clipboardText(), "Same code");
    }
    const QString two = savePicture(
        codesSheet({{"Lower one", {500, 600}}, {"Upper one", {60, 40}}}), dir.filePath("two.png"));
    {
        Item item(two);
        readImageCodes(item.url(), item.context, *item.planner, item.progress);
        EXPECT_EQ(item.context.notes->messages(), (QStringList{"Copied: Upper one", "2 codes"}));
        EXPECT_EQ(item.context.notes->clipboardText(), "Upper one\nLower one");
    }
    const std::string longPayload(61, 'z');
    const QString longer =
        savePicture(codesSheet({{longPayload, {40, 40}}}), dir.filePath("long.png"));
    {
        Item item(longer);
        readImageCodes(item.url(), item.context, *item.planner, item.progress);
        EXPECT_EQ(item.context.notes->messages(),
                  QStringList{"Copied: " + QString(57, QLatin1Char('z')) + QChar(0x2026)});
        EXPECT_EQ(item.context.notes->clipboardText(), QString(61, QLatin1Char('z')));
    }
    const QString blank = savePicture(codesSheet({}), dir.filePath("blank.png"));
    {
        Item item(blank);
        EXPECT_EQ(errorOf([&] {
                      readImageCodes(item.url(), item.context, *item.planner, item.progress);
                  }),
                  "No QR code or barcode found");
        EXPECT_TRUE(item.context.notes->messages().isEmpty());
        EXPECT_FALSE(item.context.notes->clipboardText());
    }
    EXPECT_EQ(folderEntries(dir.path()),
              (QStringList{"blank.png", "long.png", "twice.png", "two.png"}));
}

TEST(VisionTools, ImageTextIsSavedAndCopied) {
    QTemporaryDir dir;
    QImage picture(1400, 640, QImage::Format_RGB32);
    picture.fill(Qt::white);
    {
        QPainter painter(&picture);
        QFont heading(QStringLiteral("DejaVu Sans"));
        heading.setPixelSize(56);
        heading.setBold(true);
        painter.setFont(heading);
        painter.drawText(QPoint(80, 120), QStringLiteral("Quarterly Report"));
        QFont body(QStringLiteral("DejaVu Sans"));
        body.setPixelSize(34);
        painter.setFont(body);
        painter.drawText(QPoint(80, 420), QStringLiteral("The quick brown fox jumps over"));
        painter.drawText(QPoint(80, 472), QStringLiteral("the lazy dog by the river"));
    }
    const QString note = savePicture(picture, dir.filePath("note.png"));
    const QString expected =
        "Quarterly Report\n\nThe quick brown fox jumps over\nthe lazy dog by the river";
    {
        Item item(note);
        const QUrl result =
            extractImageText(item.url(), item.context, *item.planner, item.progress);
        EXPECT_EQ(result.fileName(), "note (text).txt");
        EXPECT_EQ(QString::fromUtf8(readFile(result.toLocalFile())), expected);
        EXPECT_EQ(item.context.notes->messages(), QStringList{"Text copied to the clipboard"});
        EXPECT_EQ(item.context.notes->clipboardText(), expected);
    }
    QImage empty(600, 400, QImage::Format_RGB32);
    empty.fill(Qt::white);
    const QString blank = savePicture(empty, dir.filePath("blank.png"));
    {
        Item item(blank);
        EXPECT_EQ(errorOf([&] {
                      extractImageText(item.url(), item.context, *item.planner, item.progress);
                  }),
                  "No text was found in this image");
        EXPECT_FALSE(item.context.notes->clipboardText());
    }
    const QString junk = writeFile(dir.filePath("junk.png"), "this is text, not a picture");
    {
        Item item(junk);
        EXPECT_EQ(errorOf([&] {
                      extractImageText(item.url(), item.context, *item.planner, item.progress);
                  }),
                  "This file is damaged or not in a supported format");
        EXPECT_EQ(readFile(junk), "this is text, not a picture");
    }
    EXPECT_EQ(folderEntries(dir.path()),
              (QStringList{"blank.png", "junk.png", "note (text).txt", "note.png"}));
}

TEST(VisionTools, ImageRowsAsTheListShowsThem) {
    const OperationDescriptor text = makeExtractImageTextTool();
    EXPECT_EQ(text.id, "tool.image.extractText");
    EXPECT_EQ(text.title, "Extract Text");
    EXPECT_EQ(text.symbol, "text.viewfinder");
    EXPECT_EQ(text.group, "extractText");
    EXPECT_EQ(text.outputExtension, "txt");
    EXPECT_EQ(text.verb, "Recognizing text");
    const OperationDescriptor codes = makeReadImageCodesTool();
    EXPECT_EQ(codes.id, "tool.image.readQR");
    EXPECT_EQ(codes.title, "Read QR");
    EXPECT_EQ(codes.symbol, "qrcode.viewfinder");
    EXPECT_EQ(codes.group, "readQR");
    EXPECT_FALSE(codes.outputExtension);
    EXPECT_EQ(codes.verb, "Reading codes");
    for (const OperationDescriptor& d : {text, codes}) {
        EXPECT_EQ(d.wheel, WheelKind::tools);
        EXPECT_EQ(d.categories, QSet<FileCategory>{FileCategory::image});
        EXPECT_EQ(d.engine, EngineID::of(EngineID::Kind::vision));
        EXPECT_EQ(d.behavior, OperationBehavior::run());
        EXPECT_EQ(d.multiFile, MultiFileMode::each);
        EXPECT_EQ(d.lane, JobLane::cpu);
        EXPECT_TRUE(d.optionFields.isEmpty());
        EXPECT_TRUE(d.accepts(FileInfo{}));
    }
}
