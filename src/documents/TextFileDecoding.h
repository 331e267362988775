#pragma once

#include <QString>

namespace qv {

// Reads a whole text file: a byte-order mark decides the encoding, else strict UTF-8, else
// Windows-1252. Throws SystemError when the file cannot be read, EngineError tooLarge when it
// holds more than maximumBytes, and EngineError "This text file uses an unknown encoding" when
// no decoding fits.
QString readTextFileDetectingEncoding(const QString& path, qint64 maximumBytes,
                                      const QString& tooLarge);

// The same over bytes already read.
QString decodeTextDetectingEncoding(const QByteArray& bytes);

extern const QString unknownEncodingMessage;

} // namespace qv
