#include "engines/media/operations/MediaMerge.h"

#include "engines/media/arguments/ConcatListLink.h"
#include "engines/media/arguments/EncoderArguments.h"
#include "engines/media/arguments/StreamCopyArguments.h"
#include "engines/media/MediaRoutines.h"
#include "engines/media/MediaRun.h"
#include "engines/media/probe/IsoMediaFile.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/errors/SystemError.h"
#include "model/Log.h"
#include "platform/files/FileContents.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <cerrno>
#include <unistd.h>

namespace qv {

namespace {

template <typename T, typename F>
bool sameOptional(const std::optional<T>& a, const std::optional<T>& b, F same)
{
    if (a.has_value() != b.has_value())
        return false;
    return !a || same(*a, *b);
}

// Concat lists hold no paths: each input is linked into the work folder under a plain name
// ("input0001.mp4"), so no name can break a line or carry a directive.
QList<QUrl> linkInputs(const QList<FileInfo>& files, const QString& folder)
{
    static const QRegularExpression plain(QStringLiteral("^[a-z0-9]{1,8}$"));
    QList<QUrl> links;
    for (qsizetype i = 0; i < files.size(); ++i) {
        QString name = QStringLiteral("input%1").arg(i + 1, 4, 10, QLatin1Char('0'));
        if (plain.match(files[i].ext).hasMatch())
            name += QLatin1Char('.') + files[i].ext;
        const QByteArray target = QFile::encodeName(files[i].url.toLocalFile());
        const QByteArray link = QFile::encodeName(folder + QLatin1Char('/') + name);
        if (::symlink(target.constData(), link.constData()) != 0)
            throw SystemError::fromErrno(errno, QStringLiteral("Cannot link ") + files[i].name);
        links.append(QUrl::fromLocalFile(name));
    }
    return links;
}

// The muxer that writes the first file's own extension; none when it is not known, as a joined
// copy keeps that extension.
std::optional<QString> ownMuxer(const FileInfo& file, bool allAudio)
{
    if (allAudio) {
        const AudioTarget target = audioTargetForFile(file);
        if (audioTargetFileExtension(target) == file.ext)
            return audioTargetMuxer(target);
    }
    const QString muxer = muxerForFile(file);
    if (!file.format || (muxer == QLatin1String("matroska") && file.format->id != QLatin1String("mkv")))
        return std::nullopt;
    return muxer;
}

// Whether H.264 clips' packets may follow each other as they are: every clip keeps the parameter
// sets of the first in its description. Otherwise the concat demuxer rewrites each packet with
// start codes and the sets before its key frames, for the muxer to scan back into lengths: the
// later clips then carry their own sets.
bool sameParameterSets(const QList<FileInfo>& files, const QList<MediaInfo>& probes)
{
    if (!probes.first().video || probes.first().video->codec != QLatin1String("h264"))
        return false;
    std::optional<QByteArray> first;
    for (const FileInfo& file : files) {
        const QString path = file.url.toLocalFile();
        if (!IsoMediaFile::handles(QFileInfo(path).suffix().toLower()))
            return false;
        const std::optional<QByteArray> config = IsoMediaFile::videoDecoderConfig(path);
        if (!config || (first && *config != *first))
            return false;
        first = config;
    }
    return true;
}

QStringList copyJoin(const QList<FileInfo>& files, bool allAudio, bool asTheyAre, const QString& muxer,
                     const QUrl& output, const MediaWork& work, std::optional<ConcatListLink>& listLink)
{
    const QString folder = work.workFolder(QStringLiteral("merge")).toLocalFile();
    const QList<QUrl> links = linkInputs(files, folder);
    QString list;
    for (const QUrl& link : links)
        list += QStringLiteral("file '") + link.toLocalFile() + QStringLiteral("'\n");
    const QString listPath = folder + QStringLiteral("/concat.txt");
    if (const auto error = FileContents::replace(listPath, list.toUtf8()))
        throw *error;

    listLink.emplace(listPath);
    QStringList args{"-f", "concat"};
    if (asTheyAre)
        args << "-auto_convert" << "0";
    args << "-i" << mediaOperand(QUrl::fromLocalFile(listLink->path())) << "-c" << "copy";
    if (allAudio)
        args << "-vn";
    else
        args << "-map" << "0:V?" << "-map" << "0:a?";
    static const QStringList faststart{"mp4", "mov", "m4v", "m4a"};
    if (faststart.contains(files.first().ext))
        args << "-movflags" << "+faststart";
    args << "-f" << muxer << mediaOperand(output);
    return args;
}

QString even(int value)
{
    return QString::number(value / 2 * 2);
}

QStringList videoJoin(const QList<FileInfo>& files, const QList<MediaInfo>& probes, const QUrl& output)
{
    const auto first = std::find_if(probes.begin(), probes.end(), [](const MediaInfo& p) { return p.video; });
    if (first == probes.end())
        throw EngineError(QStringLiteral("This file has no video"));
    int width = first->video->width;
    int height = first->video->height;
    if (std::abs(first->video->rotation % 180) == 90)
        std::swap(width, height);
    const QString w = even(width);
    const QString h = even(height);

    QStringList args;
    QString graph;
    const qsizetype n = files.size();
    for (qsizetype i = 0; i < n; ++i) {
        args << mediaInput(files[i].url, probes[i]);
        graph += QStringLiteral("[%1:v:0]scale=%2:%3:force_original_aspect_ratio=decrease,pad=%2:%3:(ow-iw)/2:"
                                "(oh-ih)/2,setsar=1,fps=30,format=yuv420p[v%1];")
                     .arg(i)
                     .arg(w, h);
    }
    int silent = 0;
    for (qsizetype i = 0; i < n; ++i) {
        if (probes[i].audio) {
            graph += QStringLiteral("[%1:a:0]aresample=48000,aformat=channel_layouts=stereo[a%1];").arg(i);
        } else {
            const double length = std::max(probes[i].duration.value_or(1.0), 0.0);
            args << "-f" << "lavfi" << "-t" << mediaSeconds(length) << "-i" << "anullsrc=r=48000:cl=stereo";
            graph += QStringLiteral("[%1:a]anull[a%2];").arg(n + silent).arg(i);
            ++silent;
        }
    }
    for (qsizetype i = 0; i < n; ++i)
        graph += QStringLiteral("[v%1][a%1]").arg(i);
    graph += QStringLiteral("concat=n=%1:v=1:a=1[v][a]").arg(n);

    MediaInfo frame;
    frame.video = VideoStreamInfo{};
    frame.video->codec = QStringLiteral("h264");
    frame.video->width = w.toInt();
    frame.video->height = h.toInt();
    frame.video->fps = 30.0;
    args << "-filter_complex" << graph << "-map" << "[v]" << "-map" << "[a]"
         << h264EncoderArgs(videoBitrate(frame, QualityPreset::high, std::nullopt)) << "-c:a" << "aac"
         << "-b:a" << "192k" << "-movflags" << "+faststart" << "-f" << "mp4" << mediaOperand(output);
    return args;
}

QStringList audioJoin(const QList<FileInfo>& files, const QList<MediaInfo>& probes, AudioTarget target,
                      const OperationContext& context, const QUrl& output)
{
    QStringList args;
    QString graph;
    for (qsizetype i = 0; i < files.size(); ++i) {
        args << mediaInput(files[i].url, probes[i]);
        graph += QStringLiteral("[%1:a:0]aresample=48000,aformat=channel_layouts=stereo[a%1];").arg(i);
    }
    for (qsizetype i = 0; i < files.size(); ++i)
        graph += QStringLiteral("[a%1]").arg(i);
    graph += QStringLiteral("concat=n=%1:v=0:a=1[a]").arg(files.size());
    args << "-filter_complex" << graph << "-map" << "[a]"
         << audioTargetArgs(target, probes.first(), context.settings, context.options) << "-f"
         << audioTargetMuxer(target) << mediaOperand(output);
    return args;
}

// Whether sounds joined by copying their packets decode whole: frames that count their own
// place (FLAC, WavPack) or a second stream's own codebooks (Vorbis) do not join that way, and
// such a join is made again through the decoder. A write that fails is no reason to.
bool soundCopyJoinHolds(const QStringList& arguments, const QUrl& output, double total, const QStringList& sourceLogs,
                        const OperationContext& context, const MediaWork& work)
{
    try {
        runMediaStep(arguments, total, context, work);
    } catch (const EngineError& error) {
        qCInfo(enginesLog) << "A join of copied packets does not read back:" << error.log();
        return false;
    }
    return soundDecodesAsItsSourcesTo(output, total, sourceLogs, context, work);
}

} // namespace

bool streamsMatchFirst(const MediaInfo& info, const QList<MediaInfo>& probes)
{
    const MediaInfo& first = probes.first();
    const bool video = sameOptional(info.video, first.video, [](const VideoStreamInfo& a, const VideoStreamInfo& b) {
        // The concat demuxer keeps the first clip's display rotation for all of them.
        return a.codec == b.codec && a.width == b.width && a.height == b.height && a.rotation == b.rotation;
    });
    const bool audio = sameOptional(info.audio, first.audio, [](const AudioStreamInfo& a, const AudioStreamInfo& b) {
        return a.codec == b.codec && a.sampleRate == b.sampleRate && a.channels == b.channels;
    });
    return video && audio;
}

QUrl mergeMedia(const QList<FileInfo>& files, const OperationContext& context, const MediaWork& work)
{
    if (files.isEmpty())
        throw EngineError(QStringLiteral("Add at least two files to merge"));
    QList<MediaInfo> probes;
    double total = 0;
    bool allAudio = true;
    QSet<QString> extensions;
    for (const FileInfo& file : files) {
        throwIfCancelled(context.stopToken);
        probes.append(probeMediaInput(file, context, work));
        total += std::max(probes.last().duration.value_or(0.0), 0.0);
        allAudio = allAudio && file.category == FileCategory::audio;
        extensions.insert(file.ext);
    }

    // The concat demuxer guesses each file's format itself: a file only its name can tell is
    // joined through the filters, which read it as probed.
    const std::optional<QString> muxer = ownMuxer(files.first(), allAudio);
    const bool copy = muxer && extensions.size() == 1
        && std::all_of(probes.begin(), probes.end(), [&](const MediaInfo& p) { return streamsMatchFirst(p, probes); })
        && std::none_of(probes.begin(), probes.end(), [](const MediaInfo& p) { return p.guessOverruled; });
    const QString suffix = context.settings.suffixForOperation(QStringLiteral("merge"));
    if (copy) {
        // Copied packets are never decoded: damage in a sound's frames would pass into the join.
        QStringList sourceLogs;
        if (allAudio)
            for (qsizetype i = 0; i < files.size(); ++i)
                sourceLogs.append(requireSoundDecodes(files[i].url, probes[i], context, work));
        const QString extension = files.first().ext;
        const QUrl output = work.workFile(extension);
        std::optional<ConcatListLink> listLink;
        const QStringList args =
            copyJoin(files, allAudio, !allAudio && sameParameterSets(files, probes), *muxer, output, work, listLink);
        if (!allAudio) {
            QList<QUrl> inputs;
            for (const FileInfo& file : files)
                inputs.append(file.url);
            runMediaCopyStep(args, movieBoxRoom(inputs), total, context, work);
            return placeWithSuffix(work, output, suffix, extension);
        }
        if (soundCopyJoinHolds(args, output, total, sourceLogs, context, work))
            return placeWithSuffix(work, output, suffix, extension);
        QFile::remove(output.toLocalFile());
    }
    QString extension;
    QStringList args;
    QUrl output;
    if (allAudio) {
        const AudioTarget target = audioTargetForFile(files.first());
        extension = audioTargetFileExtension(target);
        output = work.workFile(extension);
        args = audioJoin(files, probes, target, context, output);
    } else {
        extension = QStringLiteral("mp4");
        output = work.workFile(extension);
        args = videoJoin(files, probes, output);
    }
    runMediaStep(args, total, context, work);
    return placeWithSuffix(work, output, suffix, extension);
}

} // namespace qv
