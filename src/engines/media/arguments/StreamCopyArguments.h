#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace qv {

// Splits by copying: every `segmentLength` seconds (60 when absent), or at the given times.
// `demuxer`, in these builders, is the input format named before "-i" (MediaInfo::demuxer).
QStringList segmentArgs(const QUrl& input, const QUrl& outputPattern, std::optional<double> segmentLength,
                        const std::optional<QList<double>>& splitTimes, const QString& muxer, bool audioOnly,
                        const std::optional<QString>& demuxer = std::nullopt);

// Copies every picture and subtitle, drops the sound.
QStringList muteArgs(const QUrl& input, const QUrl& output, const QString& muxer,
                     const std::optional<QString>& demuxer = std::nullopt);

// Copies the streams without the file's metadata and chapters.
QStringList stripMetadataArgs(const QUrl& input, const QUrl& output, const QString& muxer, bool audioOnly,
                              const std::optional<QString>& demuxer = std::nullopt);

// Turns the picture `degrees` clockwise by its display rotation alone; nothing is re-encoded.
QStringList rotationMetadataArgs(const QUrl& input, const QUrl& output, int degrees, const QString& muxer,
                                 const std::optional<QString>& demuxer = std::nullopt);

// One picture at `seconds`, in the format the output's extension names.
QStringList frameGrabArgs(const QUrl& input, const QUrl& output, double seconds,
                          const std::optional<QString>& demuxer = std::nullopt);

// The list file of FFmpeg's concat demuxer.
QString concatList(const QList<QUrl>& files);

} // namespace qv
