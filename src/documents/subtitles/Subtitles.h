#pragma once

#include "documents/subtitles/SubtitleCue.h"

#include <QStringView>

#include <optional>

namespace qv {

// From a lower-cased extension; exact matches only.
SubtitleFormat subtitleFormat(const QString& extension);
// The extension written for a format ("srt" for unknown).
QString subtitleExtension(SubtitleFormat format);

// "h:m:s" or "m:s", each a decimal number, "," read as ".". Only finite times from 0 up to
// maximumSeconds count.
std::optional<double> parseTimestamp(QStringView text);
inline constexpr double maximumSubtitleSeconds = 360'000'000;

// SRT and WebVTT blocks, sorted by start. Blocks whose timing line is missing or does not
// read are left out and counted in skipped; WebVTT's header, NOTE, STYLE and REGION blocks and
// cues without text are not counted.
QList<SubtitleCue> parseCueBlocks(const QString& text, qint64* skipped = nullptr);
// The Dialogue lines of an ASS or SSA [Events] section, sorted by start; lines whose fields or
// times do not read are counted in skipped.
QList<SubtitleCue> parseASSEvents(const QString& text, qint64* skipped = nullptr);
// An ASS time: parseTimestamp's forms, and "0:00:04:56" with centiseconds after a colon.
std::optional<double> parseASSTimestamp(QStringView text);

// Line ends made "\n" and byte-order marks removed, as the parsers expect.
QString normalizedSubtitleText(QString text);
// The cues of text in a format; plain text and unknown give none.
QList<SubtitleCue> parseSubtitleText(const QString& text, SubtitleFormat format,
                                     qint64* skipped = nullptr);

struct LoadedSubtitles {
    QList<SubtitleCue> cues;
    SubtitleFormat format = SubtitleFormat::srt;
    qint64 replaced = 0; // undecodable bytes read as U+FFFD
    qint64 skipped = 0;  // cues left out because their timing or fields did not read
};

// Reads a subtitle file by its extension ("webvtt" is WebVTT, anything unknown SRT). Throws the
// text reader's errors and EngineError noSubtitlesMessage when no cue is left.
LoadedSubtitles loadSubtitles(const QString& path);
// The format of a file name's extension as loadSubtitles reads it.
SubtitleFormat subtitleFormatForFileName(const QString& name);

// Moves every cue by the offset; cues that end at 0 or before go, starts stop at 0.
QList<SubtitleCue> shiftCues(const QList<SubtitleCue>& cues, qint64 milliseconds);
// All cues of all lists, sorted by start, then end; nothing is joined or dropped.
QList<SubtitleCue> mergeCues(const QList<QList<SubtitleCue>>& lists);

// The file's text for the cues, in the order given.
QString subtitleText(const QList<SubtitleCue>& cues, SubtitleFormat format);

// "01:01:01,500" with the separator given; hours may pass two digits.
QString formatClockTime(double seconds, QStringView separator);
// "1:01:01.50".
QString formatASSTime(double seconds);
// One numbered SRT block, ending with a line feed.
QString srtBlock(qsizetype position, const QString& text, double start, double end);
// Text without WebVTT and SRT inline tags and in-cue timestamps, WebVTT's character escapes
// undone; a ruby reading follows its base text in parentheses.
QString strippedSubtitleMarkup(const QString& text);
// A cue's text as SRT and WebVTT can carry it: no blank line, no "-->".
QString cueBodyText(const QString& text);
// The job's note for cues left out of a file, empty for none.
QString skippedCuesNote(const QString& fileName, qint64 skipped);

extern const QString noSubtitlesMessage;

// Subtitle files are small; this much text is plenty.
inline constexpr qint64 maximumSubtitleFileBytes = qint64(64) << 20;
extern const QString subtitleFileTooLargeMessage;

} // namespace qv
