#include "documents/model/DocumentModel.h"

#include "model/errors/SystemError.h"

#include <QDir>
#include <QJsonArray>
#include <QFile>
#include <QUuid>

#include <filesystem>

namespace qv {

QString DocumentModel::plainText() const
{
    QStringList pieces;
    for (const DocBlock& block : blocks) {
        switch (block.kind) {
        case DocBlock::Kind::heading:
        case DocBlock::Kind::paragraph:
        case DocBlock::Kind::code:
        case DocBlock::Kind::quote:
            pieces.append(block.plainText());
            break;
        case DocBlock::Kind::listItem:
            pieces.append(QStringLiteral("  ").repeated(std::max(0, block.level - 1))
                          + QStringLiteral("\u2022 ") + block.plainText());
            break;
        case DocBlock::Kind::table: {
            QStringList rows;
            for (const QStringList& row : block.rows)
                rows.append(row.join(QLatin1Char('\t')));
            pieces.append(rows.join(QLatin1Char('\n')));
            break;
        }
        case DocBlock::Kind::image:
        case DocBlock::Kind::rule:
        case DocBlock::Kind::pageBreak:
            break;
        }
    }
    return pieces.join(QStringLiteral("\n\n"));
}

QList<DocumentModel::Chapter> DocumentModel::chapters(int splitLevel) const
{
    QList<Chapter> finished;
    QList<DocBlock> current;
    const auto finish = [&] {
        Chapter chapter;
        for (const DocBlock& block : current) {
            if (block.kind == DocBlock::Kind::heading) {
                chapter.title = block.plainText();
                break;
            }
        }
        chapter.blocks = current;
        finished.append(std::move(chapter));
        current.clear();
    };
    for (const DocBlock& block : blocks) {
        if (block.kind == DocBlock::Kind::pageBreak)
            continue;
        if (block.kind == DocBlock::Kind::heading && block.level <= splitLevel && !current.isEmpty())
            finish();
        current.append(block);
    }
    if (!current.isEmpty() || finished.isEmpty())
        finish();
    return finished;
}

QJsonObject DocumentModel::toJson() const
{
    QJsonArray blockArray;
    for (const DocBlock& block : blocks) {
        QJsonObject object{{QStringLiteral("kind"), DocBlock::kindName(block.kind)}};
        switch (block.kind) {
        case DocBlock::Kind::heading:
            object.insert(QStringLiteral("level"), block.level);
            break;
        case DocBlock::Kind::listItem:
            object.insert(QStringLiteral("level"), block.level);
            object.insert(QStringLiteral("ordered"), block.ordered);
            break;
        case DocBlock::Kind::image:
            if (block.path)
                object.insert(QStringLiteral("path"), *block.path);
            object.insert(QStringLiteral("ext"), block.ext);
            if (block.data)
                object.insert(QStringLiteral("bytes"), block.data->size());
            break;
        case DocBlock::Kind::table: {
            QJsonArray rows;
            for (const QStringList& row : block.rows)
                rows.append(QJsonArray::fromStringList(row));
            object.insert(QStringLiteral("rows"), rows);
            break;
        }
        default:
            break;
        }
        QJsonArray runs;
        for (const DocRun& run : block.runs) {
            QJsonObject r{{QStringLiteral("text"), run.text}};
            if (run.bold)
                r.insert(QStringLiteral("bold"), true);
            if (run.italic)
                r.insert(QStringLiteral("italic"), true);
            if (run.code)
                r.insert(QStringLiteral("code"), true);
            if (run.strike)
                r.insert(QStringLiteral("strike"), true);
            if (run.underline)
                r.insert(QStringLiteral("underline"), true);
            if (run.script != 0)
                r.insert(QStringLiteral("script"), run.script > 0 ? QStringLiteral("super") : QStringLiteral("sub"));
            if (run.link)
                r.insert(QStringLiteral("link"), *run.link);
            runs.append(r);
        }
        object.insert(QStringLiteral("runs"), runs);
        blockArray.append(object);
    }
    return {{QStringLiteral("title"), title ? QJsonValue(*title) : QJsonValue()},
            {QStringLiteral("blocks"), blockArray}};
}

QUrl makeUniqueTempDirectory(const QUrl& parent, const QString& name)
{
    const QString path = QDir(parent.toLocalFile()).filePath(
        name + QLatin1Char('-') + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(path).toStdString(), error);
    if (error)
        throw SystemError::fromErrno(error.value(), QStringLiteral("Cannot create ") + path);
    return QUrl::fromLocalFile(path);
}

} // namespace qv
