#pragma once

#include "engines/media/arguments/MediaTargets.h"
#include "engines/media/operations/MediaConversion.h"
#include "engines/media/probe/MediaInfo.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace qv {

// The pieces every media tool shares: the program, the probe, one FFmpeg run and the naming.

MediaInfo probeMediaInput(const FileInfo& file, const OperationContext& context, const MediaWork& work);

// One FFmpeg run into its work file. Progress fills start..end over `duration`; without a
// progress object nothing moves. A stop wins over any status; a failed run, or one whose log
// tells of a failed write, throws FFmpegError. A log that tells of a damaged input, or a FLAC
// input whose samples do not match the MD5 it keeps, throws EngineError "This file is damaged
// or not in a supported format". What it wrote is then read back: a file that does
// not open as media, or whose length (all pieces together for a split) fits neither `duration`
// nor the length FFmpeg reported writing, throws EngineError "Conversion failed".
void runMediaStep(const QStringList& arguments, std::optional<double> duration, const OperationContext& context,
                  const MediaWork& work, bool reportProgress = true);

// Bytes kept ahead of the samples for the movie box of a stream copy of these MP4 or QuickTime
// files, in place of the faststart rewrite, which reads and writes the whole result once more:
// their own movie boxes, and per sample more than all of the copy's tables take. Absent where
// their boxes do not tell (another container, a fragmented file), where the inputs are under
// `smallest` bytes together (a rewrite of moments) or the room would be over a 256th of them.
std::optional<qint64> movieBoxRoom(const QList<QUrl>& inputs, qint64 smallest = qint64(64) << 20);

// The arguments with their "-movflags +faststart" made room of that many bytes ahead of the
// samples; as they are without it.
QStringList withMovieBoxRoom(QStringList arguments, qint64 room);

// runMediaStep for a stream copy, with the room (movieBoxRoom) in place of the faststart
// rewrite where there is one. Tables that outgrow it are written over the first samples, and
// FFmpeg fails: the copy is then made again with the rewrite, as after any failure but a write's.
void runMediaCopyStep(const QStringList& arguments, std::optional<qint64> room, std::optional<double> duration,
                      const OperationContext& context, const MediaWork& work);

// Decodes the first sound of the file, as the probe read it, to nothing, and judges what the
// decoder says as a run's own log is judged: for a run that copies packets and never decodes
// them. Throws EngineError "This file is damaged or not in a supported format"; returns what
// FFmpeg said of a sound it found whole.
QString requireSoundDecodes(const QUrl& file, const MediaInfo& info, const OperationContext& context,
                            const MediaWork& work);

// Whether the first sound of a file decodes to `seconds`, counted in its samples and in its
// frames' times alike, and FFmpeg says nothing of it that it did not say of its sources (their
// `sourceLogs` from requireSoundDecodes): what packets copied from sounds that each decoded
// must meet once joined.
bool soundDecodesAsItsSourcesTo(const QUrl& file, double seconds, const QStringList& sourceLogs,
                                const OperationContext& context, const MediaWork& work);

// Whether a result lasting `found` seconds is what a run asked to last `asked` seconds gives.
bool mediaDurationFits(double asked, double found);

// The same for a sound alone, which is decoded and encoded sample by sample: no group of
// pictures to round to, only encoders' frames and padding.
bool soundDurationFits(double asked, double found);

// How long the first sound of a file lasts, counted in decoded samples rather than taken from
// packet times or a header; absent when nothing decodes. `demuxer` reads it as a probe did.
std::optional<double> decodedSoundSeconds(const QUrl& file, const OperationContext& context, const MediaWork& work,
                                          const std::optional<QString>& demuxer = std::nullopt);

// "file:" and the path.
QString mediaOperand(const QUrl& url);

// The demuxer the probe settled on, then "-i" and the file: every run reads the input as the
// probe read it.
QStringList mediaInput(const QUrl& url, const MediaInfo& info);

// Seconds as FFmpeg reads them: three decimals.
QString mediaSeconds(double seconds);

// FFmpeg's muxer for an audio target.
QString audioTargetMuxer(AudioTarget target);

// Whether the target's files carry a cover picture.
bool audioTargetHoldsCover(AudioTarget target);

// The picture-stream arguments of an audio result: the cover kept where the target holds
// one and the input is a plain audio file, else no picture at all.
QStringList audioPictureArgs(const MediaInfo& info, AudioTarget target);

// Decodes the covers a result for `target` would keep; where one does not decode, no result
// keeps them (coversLeftOut) and a note names the file.
void leaveOutDamagedCovers(const QUrl& file, MediaInfo& info, AudioTarget target, const OperationContext& context,
                           const MediaWork& work);

// How a kept cover is written: copied, or made a PNG where a target could not hold it as it is.
QString coverEncoder(const MediaInfo& info);

// "-ar" and the sample rate the options (over the settings) ask for, when they ask for one. A
// rate the target cannot write becomes the nearest one it can, and the notes say so.
QStringList sampleRateArgs(AudioTarget target, const OperationContext& context,
                           const std::optional<AudioStreamInfo>& source = std::nullopt);

// "44.1 kHz".
QString kilohertzText(int rate);

// The rate a sound re-encoded for the target is written at: the setting's, else the source's,
// each fitted to what the encoder takes; absent when neither is known.
std::optional<int> audioOutputSampleRate(AudioTarget target, const OperationContext& context,
                                         const std::optional<AudioStreamInfo>& source);

// The source's own rate, fitted to what the encoder takes; absent when it is not known.
std::optional<int> audioKeptSampleRate(AudioTarget target, const std::optional<AudioStreamInfo>& source);

// The sound of an audio result re-encoded as the target: the first audio stream, the cover where
// it fits, the target's codec and quality, and the chosen sample rate.
QStringList audioReencodeArgs(const MediaInfo& info, AudioTarget target, const OperationContext& context);

// Extension and muxer of a re-encoded video that keeps its container family: mov stays mov,
// m4v is written by the mp4 muxer, everything else becomes mp4.
struct VideoContainer {
    QString extension;
    QString muxer;
};
VideoContainer reencodedVideoContainer(const FileInfo& file);

// "base (suffix)", or the base alone for an empty suffix.
QString suffixedName(const QString& baseName, const QString& suffix);

// Places the work file as the source's base name with the suffix.
QUrl placeWithSuffix(const MediaWork& work, const QUrl& file, const QString& suffix, const QString& extension);

} // namespace qv
