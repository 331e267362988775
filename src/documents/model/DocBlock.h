#pragma once

#include "documents/model/DocRun.h"

#include <QByteArray>
#include <QList>
#include <QSizeF>
#include <QStringList>

#include <optional>

namespace qv {

// One block of a document. Only the fields of its kind are set; the others keep their
// defaults, so member-wise equality is the equality of kinds with their payloads.
struct DocBlock {
    enum class Kind { heading, listItem, image, table, paragraph, code, quote, rule, pageBreak };

    Kind kind = Kind::paragraph;
    // heading: 1...6; listItem: 1 is the outermost list.
    int level = 0;
    bool ordered = false;
    // image: bytes, or a path relative to the source; ext is lower case, without the dot.
    std::optional<QString> path;
    std::optional<QByteArray> data;
    QString ext;
    // image: the size the document shows it at, in CSS pixels (96 to the inch); empty when the
    // document leaves it to the picture.
    QSizeF size;
    // table: rows of plain-text cells, the header row first.
    QList<QStringList> rows;
    QList<DocRun> runs;

    bool operator==(const DocBlock&) const = default;

    // The texts of the runs, concatenated.
    QString plainText() const;

    static DocBlock heading(int level, QList<DocRun> runs = {});
    static DocBlock listItem(bool ordered, int level, QList<DocRun> runs = {});
    static DocBlock image(std::optional<QString> path, std::optional<QByteArray> data, QString ext,
                          QList<DocRun> runs = {});
    static DocBlock table(QList<QStringList> rows);
    static DocBlock paragraph(QList<DocRun> runs = {});
    static DocBlock code(const QString& text);
    static DocBlock quote(QList<DocRun> runs = {});
    static DocBlock rule();
    static DocBlock pageBreak();

    static QString kindName(Kind kind);
};

} // namespace qv

// A long document's blocks grow in one list: moved by their bytes, not one by one.
Q_DECLARE_TYPEINFO(qv::DocBlock, Q_RELOCATABLE_TYPE);
