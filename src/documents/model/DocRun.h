#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace qv {

// A stretch of inline text with one style.
struct DocRun {
    DocRun() = default;
    DocRun(QString text) : text(std::move(text)) {}

    QString text;
    bool bold = false;
    bool italic = false;
    bool code = false;
    bool strike = false;
    bool underline = false;
    int script = 0; // 1 raised (superscript), -1 lowered (subscript)
    std::optional<QString> link;

    bool operator==(const DocRun&) const = default;

    // Everything but the text is equal.
    bool hasSameStyle(const DocRun& other) const
    {
        return bold == other.bold && italic == other.italic && code == other.code
            && strike == other.strike && underline == other.underline && script == other.script
            && link == other.link;
    }
};

// Appends the run to runs, merged into the last one when their styles match. Empty text is
// dropped.
void appendMergedRun(QList<DocRun>& runs, const DocRun& run);

} // namespace qv
