#pragma once

#include "documents/DocBlock.h"

#include <QString>
#include <QUrl>

namespace qv {

// Plain text out of files, and the word-count statistics.
class TextLoaders {
public:
    TextLoaders() = delete;

    struct Statistics {
        qint64 words = 0;
        qint64 characters = 0;
        qint64 nonBlankLines = 0;
    };

    // A byte-order mark, else strict UTF-8, else Windows-1252 (whose five undefined bytes, and
    // any NUL byte, fail). Throws EngineError "This text file uses an unknown encoding", and
    // SystemError when the file cannot be read.
    static QString readTextWithDetectedEncoding(const QUrl& file);
    // The same with a cap of its own: EngineError tooLargeMessage past maximumBytes.
    static QString readTextWithDetectedEncoding(const QUrl& file, qint64 maximumBytes, const QString& tooLargeMessage);
    static std::optional<QString> decodeText(const QByteArray& bytes);

    // Line ends normalised to "\n"; paragraphs split at blank lines.
    static QList<DocBlock> plainTextBlocks(const QString& text);

    static Statistics textStatistics(const QString& text);
    // "<words> words · <characters> characters · <minutes> min read" in the system's digits.
    static QString statisticsLine(qint64 words, qint64 characters);

    // Files bigger than this are not read into memory.
    static constexpr qint64 maximumFileBytes = 512LL * 1024 * 1024;

    // Reads a whole file of at most maximumFileBytes ("This document is too large"), counted
    // while reading; throws SystemError or EngineError.
    static QByteArray readFileBytes(const QUrl& file);
    static QByteArray readFileBytes(const QUrl& file, qint64 maximumBytes, const QString& tooLargeMessage);
};

} // namespace qv
