#pragma once

#include "documents/model/DocBlock.h"

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

    // Text and how many of its characters stand for bytes that could not be decoded.
    struct DecodedText {
        QString text;
        qint64 replaced = 0; // U+FFFD put in for undecodable bytes and NULs
    };

    // A byte-order mark, else UTF-8, else Windows-1252. A stray byte (a NUL, an invalid UTF-8
    // sequence in a UTF-8 text, one of Windows-1252's five undefined bytes) becomes U+FFFD and
    // is counted; a file with more of them than text can hold is binary and throws EngineError
    // "This text file uses an unknown encoding". SystemError when the file cannot be read.
    static DecodedText readTextWithDetectedEncoding(const QUrl& file);
    // The same with a cap of its own: EngineError tooLargeMessage past maximumBytes.
    static DecodedText readTextWithDetectedEncoding(const QUrl& file, qint64 maximumBytes, const QString& tooLargeMessage);
    // As above, on bytes in memory; none for binary data.
    static std::optional<DecodedText> decodeTextReplacing(const QByteArray& bytes);
    // Strict: a byte-order mark, else UTF-8, else Windows-1252; none when any byte (NUL
    // included) does not decode.
    static std::optional<QString> decodeText(const QByteArray& bytes);
    // The job message for a text read with replacements; empty when nothing was replaced.
    static QString replacementNote(const QString& fileName, qint64 replaced);
    // Whether the first bytes of a file read as text: no NUL byte (unless marked UTF-16 or
    // UTF-32), and at most one in a hundred characters (at least one) a stray byte or a control
    // character other than the layout ones; false when it cannot be read.
    static bool looksLikeText(const QString& path);

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
