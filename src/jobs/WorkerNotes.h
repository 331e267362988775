#pragma once

#include "platform/sandbox/WorkerProtocol.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace qv {

// What a worker's reply may add to what the user reads and pastes. Messages are shown only in
// the forms the application's tools say them (a saving, a count, a note about an input by its
// name), so a compromised decoder cannot address the user in the application's voice; text
// reaches the clipboard only from operations that copy text, and from the text file the item
// placed where there is one.
class WorkerNotes {
public:
    static constexpr qsizetype clipboardLimit = 1 << 20; // characters
    static constexpr int messageLimit = 8;

    // The messages worth showing, in order; the others are dropped.
    static QStringList messages(const QStringList& said, const WorkerProtocol::RunRequest& request);
    static bool isToolMessage(const QString& message, const WorkerProtocol::RunRequest& request);

    // A failed item's sentence as the user reads it: the worker's when it is one plain line
    // with no address in it, else the application's own "This file couldn't be read".
    static QString failure(const QString& said);
    // Its details, without control characters but line breaks, bounded.
    static QString details(const QString& said);

    // The clipboard text for the item: nothing unless its operation copies text; the placed
    // text file's own text when it placed one, else what the worker said, without control
    // characters and bounded.
    static std::optional<QString> clipboard(const std::optional<QString>& said, const WorkerProtocol::RunRequest& request,
                                            const QList<QUrl>& placed);
};

} // namespace qv
