#include "engines/media/MediaRun.h"

#include "engines/media/arguments/EncoderArguments.h"
#include "engines/media/probe/FlacStreamInfo.h"
#include "engines/media/probe/IsoMediaFile.h"
#include "engines/media/probe/MediaProbe.h"
#include "engines/media/probe/MpegAudioFrames.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/errors/FFmpegError.h"
#include "model/Log.h"
#include "model/operations/Capabilities.h"
#include "model/operations/JobNotes.h"
#include "model/operations/Progress.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/processes/FFmpegInvocation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <limits>

namespace qv {

namespace {

std::optional<QUrl> program(const MediaWork& work)
{
    return work.ffmpeg ? *work.ffmpeg : Capabilities::shared().ffmpegURL();
}

EngineError damagedResult(const QString& details)
{
    return EngineError(QStringLiteral("Conversion failed"), details);
}

// The files a run writes: its last operand, or for the segment muxer every piece its pattern
// names. Nothing for a run that writes no file.
QStringList writtenFiles(const QStringList& arguments)
{
    if (arguments.isEmpty() || !arguments.last().startsWith(QLatin1String("file:")))
        return {};
    const QString path = arguments.last().mid(5);
    const qsizetype format = arguments.lastIndexOf(QStringLiteral("-f"));
    if (format < 0 || format + 1 >= arguments.size() || arguments[format + 1] != QLatin1String("segment"))
        return {path};
    const QFileInfo pattern(path);
    static const QRegularExpression number(QStringLiteral("%0?\\d*d"));
    QStringList parts;
    for (const QString& part : pattern.fileName().split(number))
        parts.append(QRegularExpression::escape(part));
    const QRegularExpression piece(QRegularExpression::anchoredPattern(parts.join(QStringLiteral("\\d+"))));
    QStringList pieces;
    const QDir folder = pattern.dir();
    for (const QString& name : folder.entryList(QDir::Files, QDir::Name))
        if (piece.match(name).hasMatch())
            pieces.append(folder.filePath(name));
    return pieces;
}

// A still picture FFmpeg wrote (a frame taken from a movie), which has no duration of its own.
bool isPicture(const MediaInfo& info)
{
    static const QStringList pictures{QStringLiteral("png"), QStringLiteral("mjpeg"), QStringLiteral("bmp"),
                                      QStringLiteral("tiff"), QStringLiteral("webp"), QStringLiteral("heif"),
                                      QStringLiteral("jpegxl"), QStringLiteral("av1"), QStringLiteral("gif")};
    return !info.audio && info.video && (pictures.contains(info.video->codec)
        || info.container.value_or(QString()).contains(QLatin1String("image2"))
        || info.container.value_or(QString()).endsWith(QLatin1String("_pipe")));
}

// The files a run reads, as paths.
QStringList inputPaths(const QStringList& arguments)
{
    QStringList paths;
    for (qsizetype i = 0; i + 1 < arguments.size(); ++i) {
        if (arguments[i] != QLatin1String("-i"))
            continue;
        const QString& input = arguments[i + 1];
        paths.append(input.startsWith(QLatin1String("file:")) ? input.mid(5) : input);
    }
    return paths;
}

// The log without FFmpeg's warning that an MP3's header disagrees with its size, when every MP3
// the run read has its frames whole to the end: that is a miscounting header (players go by
// the frames), not a file cut short.
QString withoutWholeMp3Warnings(const QString& log, const QStringList& arguments)
{
    if (!log.contains(QLatin1String(mp3LengthWarning)))
        return log;
    for (const QString& input : inputPaths(arguments)) {
        if (!input.toLower().endsWith(QLatin1String(".mp3")) || !MpegAudioFrames::runToTheEnd(input))
            return log;
    }
    QStringList kept = log.split(QLatin1Char('\n'));
    kept.removeIf([](const QString& line) { return line.contains(QLatin1String(mp3LengthWarning)); });
    return kept.join(QLatin1Char('\n'));
}

// Whether a run's MPEG audio decoder met a frame it could not read ("Header missing",
// "big_values too big") in an input damaged there: it carries on after it, leaving a hole in the
// sound. Junk before a bare MP3's first frame or after its last draws the same words while the
// sound is whole, so a bare MPEG audio file counts only when its frames break off and go on;
// inside another container (M4A, WAV, ASF) a packet is a frame, and one that does not decode is
// damage.
bool mpegAudioFrameLost(const QString& log, const QStringList& arguments)
{
    static const QStringList phrases{QStringLiteral("header missing"), QStringLiteral("big_values too big"),
                                     QStringLiteral("invalid new backstep"),
                                     QStringLiteral("error while decoding mpeg audio frame")};
    const QString lower = log.toLower();
    if (std::none_of(phrases.begin(), phrases.end(), [&](const QString& phrase) { return lower.contains(phrase); }))
        return false;
    static const QStringList bare{QStringLiteral("mp3"), QStringLiteral("mp2"), QStringLiteral("mp1"),
                                  QStringLiteral("mpa")};
    for (const QString& input : inputPaths(arguments)) {
        if (!bare.contains(QFileInfo(input).suffix().toLower()))
            return true;
        // Bytes after the last whole frame are a trailer (a recorder's junk), not a hole.
        if (!MpegAudioFrames::runToTheEnd(input) && !MpegAudioFrames::trailerStart(input))
            return true;
    }
    return false;
}

// Whether a sound was decoded with its time running backwards: a parser that lost its place in
// a damaged FLAC or Ogg stream gives frames of a later time before earlier ones, and the result
// jumps and falls short. Only sound is judged so: a movie's copied packets may come in any order.
bool soundRunsBackwards(const QString& log)
{
    return log.contains(QLatin1String("non monotonically increasing dts"))
        || log.contains(QLatin1String("Non-monotonous DTS in output stream"))
        || log.contains(QLatin1String("Queue input is backward in time"));
}

// How FFmpeg writes a FLAC's samples as its MD5 covers them: little-endian integers of whole
// bytes, at their own depth. FFmpeg 5.1 decodes 9 to 16 bits into 16 and 17 to 24 into 32,
// shifted to the top, and its fixed-point volume shifts them back exactly; an 8-bit one's top
// byte is the sample. Empty for depths it cannot give (under 8, over 24).
QStringList flacChecksumSamples(int bits)
{
    if (bits == 8)
        return {QStringLiteral("-c:a"), QStringLiteral("pcm_s8")};
    if (bits < 9 || bits > 24)
        return {};
    const int width = bits <= 16 ? 16 : 24;
    QStringList arguments;
    if (bits < width)
        arguments << QStringLiteral("-af")
                  << QStringLiteral("volume=1/%1:precision=fixed").arg(1 << (width - bits));
    return arguments << QStringLiteral("-c:a") << (width == 16 ? QStringLiteral("pcm_s16le") : QStringLiteral("pcm_s24le"));
}

// Decodes every FLAC a run read and holds its samples to the MD5 its STREAMINFO keeps: a parser
// that lost its place in damaged frames gives fewer samples, or others, without a word, and
// each frame's own CRC is not checked either. Throws the damage sentence when they differ.
void requireIntactFlacInputs(const QStringList& arguments, const OperationContext& context, const MediaWork& work)
{
    const std::optional<QUrl> ffmpeg = program(work);
    if (!ffmpeg)
        return;
    for (const QString& input : inputPaths(arguments)) {
        if (QFileInfo(input).suffix().toLower() != QLatin1String("flac"))
            continue;
        const std::optional<FlacStreamInfo> info = FlacStreamInfo::read(input);
        const QStringList samples
            = info && info->hasChecksum() ? flacChecksumSamples(info->bitsPerSample) : QStringList();
        if (samples.isEmpty()) {
            // Nothing to hold its samples to (a stream cut from its header, no MD5 written): its
            // frames are held to their order, which a filter after the decoder hides.
            const ProcessRunner::Output output = ProcessRunner::run(
                *ffmpeg,
                ffmpegArgumentPrefix() + ffmpegInputArgs(input, QStringLiteral("flac"))
                    + QStringList{"-map", "0:a:0", "-f", "null", "-"},
                context.stopToken, QHash<QString, QString>{}, appTemporaryRoot());
            throwIfCancelled(context.stopToken);
            if (soundRunsBackwards(output.stderrText()))
                throw EngineError(QStringLiteral("This file is damaged or not in a supported format"),
                                  QStringLiteral("The frames of %1 run backwards in time").arg(QFileInfo(input).fileName()));
            continue;
        }
        QByteArray digest;
        const ProcessRunner::Output output = ProcessRunner::run(
            *ffmpeg,
            ffmpegArgumentPrefix() + ffmpegInputArgs(input, QStringLiteral("flac"))
                + QStringList{"-map", "0:a:0"} + samples + QStringList{"-f", "md5", "-"},
            context.stopToken, QHash<QString, QString>{}, appTemporaryRoot(), [&digest](const QString& line) {
                if (line.startsWith(QLatin1String("MD5=")))
                    digest = QByteArray::fromHex(line.mid(4).trimmed().toLatin1());
            });
        throwIfCancelled(context.stopToken);
        // A decode that fails here is judged by the run that read the file.
        if (output.status != 0 || output.terminatedBySignal || digest.size() != 16)
            continue;
        if (digest != info->md5)
            throw EngineError(QStringLiteral("This file is damaged or not in a supported format"),
                              QStringLiteral("The samples of %1 do not match the MD5 its header keeps (%2, decoded %3)")
                                  .arg(QFileInfo(input).fileName(), QString::fromLatin1(info->md5.toHex()),
                                       QString::fromLatin1(digest.toHex())));
    }
}

// Whether every input of a run is a file of a few megabytes at most.
bool inputsAreSmall(const QStringList& arguments)
{
    constexpr qint64 small = 64 << 20;
    bool any = false;
    for (qsizetype i = 0; i + 1 < arguments.size(); ++i) {
        if (arguments[i] != QLatin1String("-i"))
            continue;
        QString input = arguments[i + 1];
        if (!input.startsWith(QLatin1String("file:")))
            return false;
        const QFileInfo file(input.mid(5));
        if (!file.isFile() || file.size() > small)
            return false;
        any = true;
    }
    return any;
}

// Whether every file is a sound file by its name.
bool soundOnly(const QStringList& files)
{
    static const QStringList sounds{"wav", "flac", "aif", "aiff", "m4a", "m4r", "m4b", "caf", "ogg", "oga", "opus",
                                    "mp3", "aac", "ac3", "wma", "mka", "wv"};
    return !files.isEmpty() && std::all_of(files.begin(), files.end(), [](const QString& file) {
        return sounds.contains(QFileInfo(file).suffix().toLower());
    });
}

// Whether a run's log tells of a damaged input. Time that runs backwards is not enough: an ASF
// sound's packets overlap by a few milliseconds and say so at every one; the result's length
// tells whether a parser lost its place.
bool logTellsOfDamage(const QString& log, const QStringList& arguments)
{
    return ffmpegLogTellsOfDamagedInput(withoutWholeMp3Warnings(log, arguments)) || mpegAudioFrameLost(log, arguments);
}

// How long the first sound of a run's first input lasts, read as `output` says (a packet copy
// or a decode, and where to); absent when it cannot be told or nothing comes of it.
std::optional<double> inputSoundSeconds(const QStringList& arguments, const QStringList& output,
                                        const OperationContext& context, const MediaWork& work)
{
    const qsizetype at = arguments.indexOf(QStringLiteral("-i"));
    if (at < 0 || at + 1 >= arguments.size())
        return std::nullopt;
    const QStringList run = arguments.mid(0, at + 2) + QStringList{QStringLiteral("-map"), QStringLiteral("0:a:0")}
        + output;
    FFmpegProgressContext progress;
    std::optional<double> seconds;
    progress.onOutputTime = [&seconds](double time) { seconds = time; };
    const ProcessRunner::Output result = runFFmpeg(program(work), run, context.stopToken, progress);
    throwIfCancelled(context.stopToken);
    if (result.status != 0 || result.terminatedBySignal || !seconds || *seconds <= 0)
        return std::nullopt;
    return seconds;
}

const QStringList toNothing{QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-")};

// The end of the last packet a packet list ("framecrc") names: its time and length in the
// stream's time base; absent when the list names none.
std::optional<double> packetListEnd(QFile& list)
{
    static const QRegularExpression timeBase(QStringLiteral("^#tb 0: (\\d+)/(\\d+)$"),
                                             QRegularExpression::MultilineOption);
    const QRegularExpressionMatch base = timeBase.match(QString::fromLatin1(list.read(4096)));
    // Only the last lines are wanted, however many packets there were.
    constexpr qint64 tail = 4096;
    if (!base.hasMatch() || !list.seek(std::max<qint64>(0, list.size() - tail)))
        return std::nullopt;
    const QList<QByteArray> lines = list.read(tail).trimmed().split('\n');
    const QList<QByteArray> fields = lines.isEmpty() ? QList<QByteArray>() : lines.last().split(',');
    bool timeRead = false, lengthRead = false;
    const qint64 pts = fields.size() >= 6 ? fields[2].trimmed().toLongLong(&timeRead) : 0;
    const qint64 length = fields.size() >= 6 ? fields[3].trimmed().toLongLong(&lengthRead) : 0;
    const double numerator = base.captured(1).toDouble(), denominator = base.captured(2).toDouble();
    if (!timeRead || !lengthRead || denominator <= 0)
        return std::nullopt;
    return double(pts + length) * numerator / denominator;
}

// In its packets, without decoding: to the end of the last one, which may be the whole sound
// (an MPEG-4 ALS frame can last seconds).
std::optional<double> copiedSoundSeconds(const QStringList& arguments, const OperationContext& context,
                                         const MediaWork& work)
{
    const QStringList copy{QStringLiteral("-c"), QStringLiteral("copy")};
    if (!work.workFile)
        return inputSoundSeconds(arguments, copy + toNothing, context, work);
    const QString listPath = work.workFile(QStringLiteral("crc")).toLocalFile();
    const std::optional<double> seconds = inputSoundSeconds(
        arguments, copy + QStringList{QStringLiteral("-f"), QStringLiteral("framecrc"), ffmpegFileOperand(listPath)},
        context, work);
    QFile list(listPath);
    std::optional<double> end;
    if (list.open(QIODevice::ReadOnly))
        end = packetListEnd(list);
    list.close();
    QFile::remove(listPath);
    if (end && *end > 0)
        return end;
    return seconds;
}

// Decoded, its encoder delay and padding taken off: each frame's time becomes the count of
// samples before it.
std::optional<double> decodedInputSeconds(const QStringList& arguments, const OperationContext& context,
                                          const MediaWork& work)
{
    return inputSoundSeconds(arguments, QStringList{QStringLiteral("-af"), QStringLiteral("asetpts=N/SR/TB")} + toNothing,
                             context, work);
}

// Whether the first input of a run gives at least one picture when decoded.
bool inputDecodesAPicture(const QStringList& arguments, const OperationContext& context, const MediaWork& work)
{
    const qsizetype at = arguments.indexOf(QStringLiteral("-i"));
    const std::optional<QUrl> ffmpeg = program(work);
    if (at < 0 || at + 1 >= arguments.size() || !ffmpeg)
        return true;
    bool listed = false, pictured = false;
    const ProcessRunner::Output result = ProcessRunner::run(
        *ffmpeg,
        QStringList{QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                    QStringLiteral("error")}
            + arguments.mid(0, at + 2)
            + QStringList{QStringLiteral("-map"), QStringLiteral("0:v:0"), QStringLiteral("-frames:v"),
                          QStringLiteral("1"), QStringLiteral("-f"), QStringLiteral("framecrc"), QStringLiteral("-")},
        context.stopToken, QHash<QString, QString>{}, appTemporaryRoot(), [&](const QString& line) {
            listed = listed || line.startsWith(QLatin1String("#media_type 0: video"));
            pictured = pictured || line.startsWith(QLatin1String("0,"));
        });
    throwIfCancelled(context.stopToken);
    // FFmpeg ends with an error status when it wrote no frame; a run that never set up the
    // decoding gives no answer, and the run's own failure stands.
    return result.terminatedBySignal || !listed || pictured;
}

// Reads back what a run wrote: every file must open as media, and together they must last what
// was asked, or what FFmpeg says it wrote (a sound that ends before its picture). FFmpeg can end
// with status 0 over a file it never finished.
void checkWrittenMedia(const QStringList& arguments, std::optional<double> asked, std::optional<double> written,
                       const OperationContext& context, const MediaWork& work, bool timeRanBackwards = false)
{
    // A run that wrote nothing at all is for its operation to judge (no frame at that time, too
    // short to split); nothing can be placed from it.
    QStringList files = writtenFiles(arguments);
    files.removeIf([](const QString& file) { return !QFileInfo::exists(file); });
    double total = 0.0;
    bool timed = !files.isEmpty();
    const std::optional<double> expected = asked && *asked > 0 ? asked : std::nullopt;
    for (const QString& file : files) {
        // An MP4 or QuickTime file tells its length in its boxes: no second FFmpeg start (a
        // tenth of a second and more) for a result it just wrote.
        const bool sound = soundOnly({file});
        if (IsoMediaFile::handles(QFileInfo(file).suffix().toLower())) {
            if (const std::optional<double> seconds = IsoMediaFile::duration(file, sound)) {
                total += *seconds;
                continue;
            }
        }
        MediaInfo info;
        try {
            info = probeMediaInfo(program(work), QUrl::fromLocalFile(file), context.stopToken);
        } catch (const EngineError& e) {
            throw damagedResult(QStringLiteral("The result can't be read back: ") + e.log());
        }
        // A sound's chapters and cover can outlast a sound track the muxer left out.
        if (sound && !info.audio)
            throw damagedResult(QStringLiteral("The result holds no sound: ") + QFileInfo(file).fileName());
        if (info.duration && *info.duration > 0) {
            total += *info.duration;
            continue;
        }
        // A sound or a movie with nothing in it (a header alone, when the input's packets
        // decoded to nothing) is no result of a run that was to last some time.
        if (expected && (info.audio || info.video) && !isPicture(info))
            throw damagedResult(QStringLiteral("The result holds no sound or pictures: ") + QFileInfo(file).fileName());
        // A sound of no length whose source told none either (a few milliseconds of DSD decode
        // to nothing): a header alone is no result when not one sample decodes from it.
        if (info.audio && !info.video && !decodedSoundSeconds(QUrl::fromLocalFile(file), context, work))
            throw EngineError(QStringLiteral("This file has no usable audio or video"),
                              QStringLiteral("The result holds no sound: ") + QFileInfo(file).fileName());
        timed = false;
    }
    const std::optional<double> told = written && *written > 0 ? written : std::nullopt;
    if (!timed || (!expected && !told))
        return;
    // A sound that lost a third of a second is no copy rounded to a key frame.
    const bool sound = soundOnly(files);
    const auto fits = [sound](double asked, double found) {
        return sound ? soundDurationFits(asked, found) : mediaDurationFits(asked, found);
    };
    if (expected && fits(*expected, total))
        return;
    // A sound whose time ran backwards is whole only when it lasts as long as its source says.
    if (timeRanBackwards)
        throw EngineError(QStringLiteral("This file is damaged or not in a supported format"),
                          QStringLiteral("The sound's time ran backwards and the result lasts %1 s of %2 s")
                              .arg(mediaSeconds(total), expected ? mediaSeconds(*expected) : QStringLiteral("?")));
    if (told && mediaDurationFits(*told, total)) {
        // FFmpeg wrote all it decoded, other than was asked: right when the source's sound ends
        // before its pictures, or its header guessed its length; wrong when its decoder gave up
        // on a sound that goes on, or its time jumped.
        const std::optional<double> packets =
            expected && sound ? copiedSoundSeconds(arguments, context, work) : std::nullopt;
        if (!packets || !fits(*expected, *packets))
            return;
        // The decoder gave up on data it cannot read: the source's fault, not the conversion's.
        throw EngineError(QStringLiteral("This file is damaged or not in a supported format"),
                          QStringLiteral("The result lasts %1 s of the %2 s of sound the source holds")
                                .arg(mediaSeconds(total), mediaSeconds(*packets)));
    }
    throw damagedResult(QStringLiteral("The result lasts %1 s instead of %2 s")
                            .arg(mediaSeconds(total), mediaSeconds(expected.value_or(told.value_or(0.0)))));
}

} // namespace

bool mediaDurationFits(double asked, double found)
{
    // A stream copy starts at the keyframe before the cut, so a result may run up to a group of
    // pictures longer; one that is shorter was cut off.
    return found >= asked - std::max(1.0, asked * 0.1) && found <= asked + std::max(10.0, asked * 0.1);
}

bool soundDurationFits(double asked, double found)
{
    // Short by no more than an MP3 source's delay and padding at 8 kHz; an MP3 result reads back
    // its own padding too, and a quarter of a second more is no sound lost.
    return found >= asked - std::max(0.25, asked * 0.1) && found <= asked + std::max(10.0, asked * 0.1);
}

std::optional<double> decodedSoundSeconds(const QUrl& file, const OperationContext& context, const MediaWork& work,
                                          const std::optional<QString>& demuxer)
{
    return decodedInputSeconds(ffmpegInputArgs(file.toLocalFile(), demuxer), context, work);
}

MediaInfo probeMediaInput(const FileInfo& file, const OperationContext& context, const MediaWork& work)
{
    // What FFmpeg said of the file when the wheel looked at its streams, while the file is as
    // it was then: one FFmpeg start per file and job.
    if (file.mediaDescription && QFileInfo(file.path()).size() == file.size) {
        if (std::optional<MediaInfo> described = mediaInfoFromDescription(*file.mediaDescription, file.url))
            return *described;
    }
    return probeMediaInfo(program(work), file.url, context.stopToken);
}

void runMediaStep(const QStringList& arguments, std::optional<double> duration, const OperationContext& context,
                  const MediaWork& work, bool report)
{
    FFmpegProgressContext progress;
    progress.progress = report ? work.progress : nullptr;
    progress.duration = duration && *duration > 0 ? duration : std::nullopt;
    std::optional<double> written;
    progress.onOutputTime = [&written](double seconds) { written = seconds; };
    ProcessRunner::Output output;
    try {
        output = runFFmpeg(program(work), arguments, context.stopToken, progress);
    } catch (const EngineError& error) {
        // Gigabytes are not what a small file needs: its headers declare sizes it does not hold.
        if (error.message() == ProcessRunner::memoryMessage() && inputsAreSmall(arguments))
            throw EngineError(QStringLiteral("This file is damaged or not in a supported format"), error.log());
        throw;
    }
    throwIfCancelled(context.stopToken);
    checkFFmpegRun(output);
    if (logTellsOfDamage(output.stderrText(), arguments))
        throw EngineError(QStringLiteral("This file is damaged or not in a supported format"),
                          output.stderrText().trimmed());
    requireIntactFlacInputs(arguments, context, work);
    const bool backwards = soundOnly(writtenFiles(arguments)) && soundRunsBackwards(output.stderrText());
    try {
        checkWrittenMedia(arguments, duration, written, context, work, backwards);
    } catch (const EngineError& error) {
        // A sound whose headers promise a length its packets do not hold (a sample table left
        // without its data, a lone encoder-delay frame) is no damaged result but an empty
        // source; the source is decoded only once its result has failed.
        if (error.message() == damagedResult({}).message() && soundOnly(writtenFiles(arguments))
            && !decodedInputSeconds(arguments, context, work))
            throw EngineError(QStringLiteral("This file has no usable audio or video"),
                              QStringLiteral("The source decodes to no sound; ") + error.log());
        // Not one picture decoded (a stream whose key frames are gone): the encoder was given
        // nothing, and the result holds nothing.
        if (error.message() == damagedResult({}).message() && !soundOnly(writtenFiles(arguments))
            && !inputDecodesAPicture(arguments, context, work))
            throw EngineError(QStringLiteral("This file has no frames to convert"),
                              QStringLiteral("The source decodes to no picture; ") + error.log());
        throw;
    }
    if (report && work.progress)
        reportProgress(1.0, *work.progress);
}

std::optional<qint64> movieBoxRoom(const QList<QUrl>& inputs, qint64 smallest)
{
    // Per sample at most a size, a chunk's 64-bit offset and its row of samples per chunk, a
    // duration, a presentation offset, a key frame mark and a dependency byte; the room left
    // over is an empty box.
    constexpr qint64 perSample = 64;
    constexpr qint64 spare = 64 * 1024;
    if (inputs.isEmpty())
        return std::nullopt;
    qint64 bytes = 0;
    qint64 room = spare;
    for (const QUrl& input : inputs) {
        const QString path = input.toLocalFile();
        const QFileInfo info(path);
        if (!IsoMediaFile::handles(info.suffix().toLower()))
            return std::nullopt;
        const std::optional<IsoMediaFile::SampleTables> tables = IsoMediaFile::sampleTables(path);
        if (!tables)
            return std::nullopt;
        bytes += info.size();
        room += tables->movieBytes + perSample * tables->samples;
    }
    if (bytes < smallest || room > bytes / 256 || room > std::numeric_limits<int>::max())
        return std::nullopt;
    return room;
}

QStringList withMovieBoxRoom(QStringList arguments, qint64 room)
{
    for (qsizetype i = 0; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("-movflags") && arguments[i + 1] == QLatin1String("+faststart")) {
            arguments[i] = QStringLiteral("-moov_size");
            arguments[i + 1] = QString::number(room);
            break;
        }
    }
    return arguments;
}

void runMediaCopyStep(const QStringList& arguments, std::optional<qint64> room, std::optional<double> duration,
                      const OperationContext& context, const MediaWork& work)
{
    const QStringList roomy = room ? withMovieBoxRoom(arguments, *room) : arguments;
    if (roomy != arguments) {
        try {
            runMediaStep(roomy, duration, context, work);
            return;
        } catch (const FFmpegError& error) {
            // A disk that refused the copy would refuse it again; anything else (an index that
            // outgrew its room, said in words that may change) is the copy as asked for to judge.
            if (ffmpegRunFailedToWrite(error.status(), error.log()))
                throw;
            qCInfo(enginesLog) << "A copy with room for its index failed; copying again:" << error.log();
        }
    }
    runMediaStep(arguments, duration, context, work);
}

QString requireSoundDecodes(const QUrl& file, const MediaInfo& info, const OperationContext& context,
                            const MediaWork& work)
{
    const QStringList arguments = mediaInput(file, info)
        + QStringList{QStringLiteral("-map"), QStringLiteral("0:a:0"), QStringLiteral("-f"), QStringLiteral("null"),
                      QStringLiteral("-")};
    const ProcessRunner::Output output = runFFmpeg(program(work), arguments, context.stopToken);
    throwIfCancelled(context.stopToken);
    if (output.status != 0 || output.terminatedBySignal || logTellsOfDamage(output.stderrText(), arguments))
        throw EngineError(QStringLiteral("This file is damaged or not in a supported format"),
                          output.stderrText().trimmed());
    requireIntactFlacInputs(arguments, context, work);
    return output.stderrText();
}

bool soundDecodesAsItsSourcesTo(const QUrl& file, double seconds, const QStringList& sourceLogs,
                                const OperationContext& context, const MediaWork& work)
{
    // The same words of the same parts, wherever in memory they were.
    static const QRegularExpression address(QStringLiteral("0x[0-9a-fA-F]+"));
    const auto lines = [](const QString& log) {
        QStringList found;
        for (const QString& line : log.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            found.append(QString(line).replace(address, QStringLiteral("0x")).trimmed());
        return found;
    };
    QSet<QString> known;
    for (const QString& log : sourceLogs)
        for (const QString& line : lines(log))
            known.insert(line);
    const QStringList arguments = ffmpegInputArgs(file.toLocalFile(), std::nullopt)
        + QStringList{QStringLiteral("-map"), QStringLiteral("0:a:0")} + toNothing;
    FFmpegProgressContext progress;
    std::optional<double> timed;
    progress.onOutputTime = [&timed](double time) { timed = time; };
    const ProcessRunner::Output output = runFFmpeg(program(work), arguments, context.stopToken, progress);
    throwIfCancelled(context.stopToken);
    if (output.status != 0 || output.terminatedBySignal || !timed || !soundDurationFits(seconds, *timed))
        return false;
    const QStringList said = lines(output.stderrText());
    if (std::any_of(said.begin(), said.end(), [&known](const QString& line) { return !known.contains(line); }))
        return false;
    const std::optional<double> counted = decodedSoundSeconds(file, context, work);
    return counted && soundDurationFits(seconds, *counted);
}

QString mediaOperand(const QUrl& url)
{
    return ffmpegFileOperand(url.toLocalFile());
}

QStringList mediaInput(const QUrl& url, const MediaInfo& info)
{
    return ffmpegInputArgs(url.toLocalFile(), info.demuxer);
}

QString mediaSeconds(double seconds)
{
    return QString::number(std::max(seconds, 0.0), 'f', 3);
}

QString audioTargetMuxer(AudioTarget target)
{
    switch (target) {
    case AudioTarget::mp3: return QStringLiteral("mp3");
    case AudioTarget::m4a:
    case AudioTarget::alac:
    case AudioTarget::m4r: return QStringLiteral("ipod");
    case AudioTarget::wav: return QStringLiteral("wav");
    case AudioTarget::aiff: return QStringLiteral("aiff");
    case AudioTarget::flac: return QStringLiteral("flac");
    case AudioTarget::ogg: return QStringLiteral("ogg");
    case AudioTarget::opus: return QStringLiteral("opus");
    case AudioTarget::caf: return QStringLiteral("caf");
    }
    return {};
}

bool audioTargetHoldsCover(AudioTarget target)
{
    return target == AudioTarget::mp3 || target == AudioTarget::m4a || target == AudioTarget::alac
        || target == AudioTarget::flac;
}

QStringList audioPictureArgs(const MediaInfo& info, AudioTarget target)
{
    const bool keepCover = !info.video && !info.coversLeftOut && audioTargetHoldsCover(target)
        && !info.container.value_or(QString()).contains(QLatin1String("matroska"));
    if (!keepCover)
        return {QStringLiteral("-vn")};
    return {"-map", "0:v?", "-c:v", coverEncoder(info), "-disposition:v", "attached_pic"};
}

void leaveOutDamagedCovers(const QUrl& file, MediaInfo& info, AudioTarget target, const OperationContext& context,
                           const MediaWork& work)
{
    if (info.coverCodecs.isEmpty() || audioPictureArgs(info, target).size() == 1)
        return;
    const QStringList arguments = mediaInput(file, info)
        + QStringList{QStringLiteral("-map"), QStringLiteral("0:v"), QStringLiteral("-frames:v"),
                      QString::number(info.coverCodecs.size())}
        + toNothing;
    const ProcessRunner::Output output = runFFmpeg(program(work), arguments, context.stopToken);
    throwIfCancelled(context.stopToken);
    if (output.status == 0 && !output.terminatedBySignal && output.stderrText().trimmed().isEmpty())
        return;
    info.coversLeftOut = true;
    if (context.notes)
        context.notes->addMessage(QStringLiteral("The cover picture of \u201C%1\u201D is damaged and was left out")
                                      .arg(QFileInfo(file.toLocalFile()).fileName()));
}

QString coverEncoder(const MediaInfo& info)
{
    // MP4 and FLAC hold JPEG and PNG covers only; anything else (a GIF, a BMP) becomes a PNG.
    static const QStringList held{QStringLiteral("mjpeg"), QStringLiteral("png")};
    const bool copies = std::all_of(info.coverCodecs.begin(), info.coverCodecs.end(),
                                    [](const QString& codec) { return held.contains(codec); });
    return copies ? QStringLiteral("copy") : QStringLiteral("png");
}

QStringList audioReencodeArgs(const MediaInfo& info, AudioTarget target, const OperationContext& context)
{
    QStringList args{"-map", "0:a:0"};
    args << audioPictureArgs(info, target);
    if (target == AudioTarget::mp3)
        args << "-id3v2_version" << "3";
    args << audioTargetArgs(target, info, context.settings, context.options);
    args << sampleRateArgs(target, context, info.audio);
    return args;
}

std::optional<int> audioOutputSampleRate(AudioTarget target, const OperationContext& context,
                                         const std::optional<AudioStreamInfo>& source)
{
    const int rate = context.options.sampleRate.value_or(context.settings.sampleRate);
    if (rate >= 1)
        return audioTargetSampleRate(target, rate);
    return audioKeptSampleRate(target, source);
}

std::optional<int> audioKeptSampleRate(AudioTarget target, const std::optional<AudioStreamInfo>& source)
{
    if (!source || !source->sampleRate)
        return std::nullopt;
    const int kept = *source->sampleRate;
    if (target == AudioTarget::ogg && kept > 192000)
        return kept % 44100 == 0 ? 176400 : 192000;
    return audioTargetSampleRate(target, kept);
}

QString kilohertzText(int rate)
{
    return QString::number(rate / 1000.0, 'g', 6) + QStringLiteral(" kHz");
}

QStringList sampleRateArgs(AudioTarget target, const OperationContext& context,
                           const std::optional<AudioStreamInfo>& source)
{
    const int rate = context.options.sampleRate.value_or(context.settings.sampleRate);
    QStringList args;
    // Opus maps more than two channels only in the layouts of its mapping family 1; a sound of
    // another layout with that many channels takes the family's own.
    if (target == AudioTarget::opus && source && source->channels && *source->channels > 2
        && *source->channels <= 8) {
        static const char* const layouts[] = {"", "", "", "3.0", "quad", "5.0", "5.1", "6.1", "7.1"};
        args << QStringLiteral("-channel_layout") << QLatin1String(layouts[*source->channels])
             << QStringLiteral("-mapping_family") << QStringLiteral("1");
    }
    // AAC wants a named layout; some decoders (Speex) give a count of channels alone.
    if ((target == AudioTarget::m4a || target == AudioTarget::m4r) && source && source->channels
        && *source->channels <= 2)
        args << QStringLiteral("-channel_layout")
             << (*source->channels == 1 ? QStringLiteral("mono") : QStringLiteral("stereo"));
    // One or two channels of another layout (a WAV whose mask says front left) become mono or
    // stereo: AAC and Opus take no other, and a count given again remixes nothing.
    if (source && source->channels && *source->channels <= 2 && *source->channels >= 1)
        args << QStringLiteral("-ac") << QString::number(*source->channels);
    if (rate < 1) {
        // Kept as it is, unless the encoder cannot take it (DSD's 352.8 kHz for Vorbis, Opus' few).
        const std::optional<int> fitted = audioOutputSampleRate(target, context, source);
        if (fitted && source && fitted != source->sampleRate)
            args << QStringLiteral("-ar") << QString::number(*fitted);
        return args;
    }
    const int written = audioTargetSampleRate(target, rate);
    if (written != rate && context.notes)
        context.notes->addMessage(audioTargetRawValue(target).toUpper() + QStringLiteral(" can't use ")
                                  + kilohertzText(rate) + QStringLiteral(": used ") + kilohertzText(written));
    return args << QStringLiteral("-ar") << QString::number(written);
}

VideoContainer reencodedVideoContainer(const FileInfo& file)
{
    const QString id = file.format ? file.format->id : QString();
    if (id == QLatin1String("mov"))
        return {QStringLiteral("mov"), QStringLiteral("mov")};
    if (id == QLatin1String("m4v"))
        return {QStringLiteral("m4v"), QStringLiteral("mp4")};
    return {QStringLiteral("mp4"), QStringLiteral("mp4")};
}

QString suffixedName(const QString& baseName, const QString& suffix)
{
    return suffix.isEmpty() ? baseName : baseName + QStringLiteral(" (") + suffix + QLatin1Char(')');
}

QUrl placeWithSuffix(const MediaWork& work, const QUrl& file, const QString& suffix, const QString& extension)
{
    return work.placeNamed(file, suffixedName(work.baseName, suffix), extension);
}

} // namespace qv
