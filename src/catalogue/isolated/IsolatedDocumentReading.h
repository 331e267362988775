#pragma once

#include "jobs/WorkerServer.h"
#include "model/files/FileInfo.h"

#include <QImage>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <stop_token>

namespace qv {

// What the preview window and float panels show of a document, an e-book, a spreadsheet, an
// archive or a subtitle file: a few blocks of plain text and tables, read by our own readers in
// a worker process while IsolatedReading is enabled (here otherwise), and cut to a size a window
// lays out at once. Absent when the file cannot be read (a worker's death or a time-out
// included) or is of no kind read here.
class IsolatedDocumentReading {
public:
    struct Block {
        enum class Kind { heading, paragraph, listItem, code, quote, table, rule, picture };
        Kind kind = Kind::paragraph;
        int level = 1;        // heading 1 to 6; list nesting from 1
        bool ordered = false; // list items
        QString text;
        // The text's look, stretch by stretch; empty when it is plain throughout.
        struct Span {
            int length = 0;
            bool bold = false;
            bool italic = false;
            bool underline = false;
            bool strike = false;
            bool code = false;
        };
        QList<Span> spans;
        QList<QStringList> rows = {}; // tables: the first row is the header
        // Pictures: the pixels, decoded where the file was read, and the size the document
        // shows them at, in its pixels (96 to the inch).
        QImage picture = {};
        QSize shown = {};
    };
    struct Preview {
        QString title;
        QList<Block> blocks;
        bool cut = false; // more was there than is shown
        // What was left out, when the reader can say (other sheets, other chapters, more rows).
        QString cutNote;
    };

    // Bounds on what a preview holds, whatever the file holds.
    static constexpr int maximumBlocks = 400;
    static constexpr int maximumCharacters = 200'000;
    static constexpr int maximumRows = 200;
    static constexpr int maximumColumns = 30;
    static constexpr int maximumCellCharacters = 300;
    // A picture is shown at most this wide, and four times as tall, whatever its document
    // states; its pixels are at most twice that (for a screen of two device pixels to one),
    // and all of a preview's pictures hold at most maximumPicturePixels.
    static constexpr int widestPicture = 640;
    static constexpr qint64 maximumPicturePixels = 16'000'000;

    // Whether a file of that category and format is read here.
    static bool reads(const FileInfo& file);

    // pictures: a document's own pictures come along, decoded (only where it is read).
    static std::optional<Preview> preview(const FileInfo& file, std::stop_token stop = {}, bool pictures = false);

    // In this process; throws as the readers do.
    static Preview read(const FileInfo& file, std::stop_token stop = {}, bool pictures = false);

    // The pictures' pixels go to files in pictureFolder, which fromJson reads and removes;
    // without a folder they are left out.
    static QJsonObject toJson(const Preview& preview, const QString& pictureFolder = {});
    static Preview fromJson(const QJsonObject& json);

    // The answers a worker gives to these questions.
    static WorkerServer::Calls workerCalls();
};

} // namespace qv
