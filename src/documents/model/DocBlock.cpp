#include "documents/model/DocBlock.h"

namespace qv {

void appendMergedRun(QList<DocRun>& runs, const DocRun& run)
{
    if (run.text.isEmpty())
        return;
    if (!runs.isEmpty() && runs.last().hasSameStyle(run))
        runs.last().text += run.text;
    else
        runs.append(run);
}

QString DocBlock::plainText() const
{
    QString text;
    for (const DocRun& run : runs)
        text += run.text;
    return text;
}

DocBlock DocBlock::heading(int level, QList<DocRun> runs)
{
    DocBlock block;
    block.kind = Kind::heading;
    block.level = level;
    block.runs = std::move(runs);
    return block;
}

DocBlock DocBlock::listItem(bool ordered, int level, QList<DocRun> runs)
{
    DocBlock block;
    block.kind = Kind::listItem;
    block.ordered = ordered;
    block.level = level;
    block.runs = std::move(runs);
    return block;
}

DocBlock DocBlock::image(std::optional<QString> path, std::optional<QByteArray> data, QString ext,
                         QList<DocRun> runs)
{
    DocBlock block;
    block.kind = Kind::image;
    block.path = std::move(path);
    block.data = std::move(data);
    block.ext = std::move(ext);
    block.runs = std::move(runs);
    return block;
}

DocBlock DocBlock::table(QList<QStringList> rows)
{
    DocBlock block;
    block.kind = Kind::table;
    block.rows = std::move(rows);
    return block;
}

DocBlock DocBlock::paragraph(QList<DocRun> runs)
{
    DocBlock block;
    block.runs = std::move(runs);
    return block;
}

DocBlock DocBlock::code(const QString& text)
{
    DocBlock block;
    block.kind = Kind::code;
    block.runs = {DocRun{text}};
    return block;
}

DocBlock DocBlock::quote(QList<DocRun> runs)
{
    DocBlock block;
    block.kind = Kind::quote;
    block.runs = std::move(runs);
    return block;
}

DocBlock DocBlock::rule()
{
    DocBlock block;
    block.kind = Kind::rule;
    return block;
}

DocBlock DocBlock::pageBreak()
{
    DocBlock block;
    block.kind = Kind::pageBreak;
    return block;
}

QString DocBlock::kindName(Kind kind)
{
    switch (kind) {
    case Kind::heading: return QStringLiteral("heading");
    case Kind::listItem: return QStringLiteral("listItem");
    case Kind::image: return QStringLiteral("image");
    case Kind::table: return QStringLiteral("table");
    case Kind::paragraph: return QStringLiteral("paragraph");
    case Kind::code: return QStringLiteral("code");
    case Kind::quote: return QStringLiteral("quote");
    case Kind::rule: return QStringLiteral("rule");
    case Kind::pageBreak: return QStringLiteral("pageBreak");
    }
    return {};
}

} // namespace qv
