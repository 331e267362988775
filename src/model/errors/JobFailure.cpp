#include "model/errors/JobFailure.h"

#include "model/errors/EngineError.h"
#include "model/errors/FFmpegError.h"
#include "model/errors/SystemError.h"

#include <QHash>
#include <QRegularExpression>
#include <QTextBoundaryFinder>


namespace qv {

namespace {

// Long system descriptions are cut to 87 characters and an ellipsis; 90 still fit whole.
QString cutDescription(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    qsizetype cutAt = -1;
    while (finder.toNextBoundary() != -1) {
        ++count;
        if (count == 87)
            cutAt = finder.position();
        if (count >= 91)
            return text.left(cutAt) + QChar(0x2026);
    }
    return text;
}

// A library that fails the same way at every try says so at every try: the details keep
// each line once, with how often it came.
QString withoutRepeatedLines(const QString& text)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    if (lines.size() < 3)
        return text;
    QStringList kept;
    QHash<QString, int> counts;
    for (const QString& line : lines) {
        if (line.trimmed().isEmpty()) {
            kept.append(line);
            continue;
        }
        if (counts[line]++ == 0)
            kept.append(line);
    }
    bool repeated = false;
    for (QString& line : kept) {
        const int count = counts.value(line);
        if (count > 1) {
            line += QStringLiteral(" (%1 times)").arg(count);
            repeated = true;
        }
    }
    return repeated ? kept.join(QLatin1Char('\n')) : text;
}

// A write that failed for want of room says so in the system's words somewhere in the log,
// whatever the engine's own sentence names.
bool reportsFullDisk(const QString& log)
{
    return log.contains(QLatin1String("No space left on device"), Qt::CaseInsensitive)
        || log.contains(QLatin1String("Disk quota exceeded"), Qt::CaseInsensitive);
}

JobFailure failureOfSystemError(const SystemError& error)
{
    JobFailure failure;
    failure.details = error.domain() + QLatin1Char(' ') + QString::number(error.code())
        + QStringLiteral(": ") + error.localizedDescription();
    if (error.underlying())
        failure.details += underlyingErrorNote(*error.underlying());
    failure.message = posixErrorMessage(posixCodeOfError(error))
                          .value_or(cutDescription(error.localizedDescription()));
    return failure;
}

} // namespace

QString fileTooLargeMessage()
{
    return QStringLiteral("The result is too large for the destination's disk");
}

JobFailure jobFailure(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const EngineError& e) {
        const QString details = e.log().isEmpty() ? e.message() : withoutRepeatedLines(e.log());
        if (reportsFullDisk(e.log()))
            return {QStringLiteral("Not enough disk space"), details};
        return {e.message(), details};
    } catch (const FFmpegError& e) {
        return {e.localizedDescription(), e.log()};
    } catch (const SystemError& e) {
        return failureOfSystemError(e);
    } catch (const Error& e) {
        return failureOfSystemError(SystemError(QStringLiteral("Error"), 0, e.localizedDescription()));
    } catch (const std::exception& e) {
        return failureOfSystemError(
            SystemError(QStringLiteral("Error"), 0, QString::fromUtf8(e.what())));
    } catch (...) {
        return failureOfSystemError(
            SystemError(QStringLiteral("Error"), 0, QStringLiteral("Unknown error")));
    }
}

QString ffmpegLogMessage(const QString& log)
{
    const QString text = log.toLower();
    const auto has = [&text](const char* needle) { return text.contains(QLatin1String(needle)); };
    const QString codec = QStringLiteral("This file uses a codec that can't be converted");

    if (has("no space left"))
        return QStringLiteral("Not enough disk space");
    if (has("file too large"))
        return fileTooLargeMessage();
    if (has("permission denied") || has("operation not permitted"))
        return QStringLiteral("Quorvenda isn't allowed to save there");
    if (has("decoder") && (has("not found") || has("unknown")))
        return codec;
    if (has("unsupported codec"))
        return codec;
    // The decoder gave not one frame, whatever it said of the data it could not use.
    if (has("output file is empty, nothing was encoded"))
        return QStringLiteral("This file has no frames to convert");
    if (has("invalid data found") || has("moov atom not found")
        || has("could not find codec parameters"))
        return QStringLiteral("This file is damaged or not in a supported format");
    if (has("does not contain any stream") || has("output file does not contain")
        || has("matches no streams"))
        return QStringLiteral("This file has no usable audio or video");
    if (has("cannot create compression session") || has("error encoding") || has("videotoolbox")
        || has("error while opening encoder for output stream")) {
        // No frame ever reached the encoder: what it says of an empty input is not its fault.
        if (has("without any data written to it") || has("cannot determine format of input stream"))
            return QStringLiteral("This file has no frames to convert");
        // FFmpeg's complaint just before that line names the encoder in brackets
        // ("[libopus @ 0x...]"); the sound's encoder failing is no fault of the picture's.
        static const QRegularExpression tag(QStringLiteral(R"(\[([a-z0-9_]+) @ 0x)"));
        static const QRegularExpression audioEncoder(QStringLiteral(
            R"(^(lib(opus|mp3lame|vorbis|fdk_aac|twolame|shine|opencore_amr\w*|vo_amrwbenc)|aac|opus|vorbis|)"
            R"(flac|alac|ac3|eac3|mp2|wavpack|pcm_\w+|adpcm_\w+)$)"));
        qsizetype end = text.indexOf(QLatin1String("error while opening encoder"));
        if (end < 0)
            end = text.size();
        QString last;
        for (auto it = tag.globalMatch(text.left(end)); it.hasNext();)
            last = it.next().captured(1);
        if (audioEncoder.match(last).hasMatch())
            return QStringLiteral("The audio encoder couldn't handle this file");
        return QStringLiteral("The video encoder couldn't handle this file");
    }
    if (has("could not write header") || has("not currently supported in container"))
        return QStringLiteral("This combination of codec and format isn't supported");
    return QStringLiteral("Conversion failed");
}

std::optional<QString> posixErrorMessage(std::optional<int> code)
{
    if (!code)
        return std::nullopt;
    switch (*code) {
    case 1:
    case 13: return QStringLiteral("Quorvenda isn't allowed to save there");
    case 2: return QStringLiteral("The file is no longer there");
    case 27: return fileTooLargeMessage();
    case 28: return QStringLiteral("Not enough disk space");
    case 30: return QStringLiteral("The destination is read-only");
    default: return std::nullopt;
    }
}

std::optional<int> posixCodeOfError(const SystemError& error)
{
    if (error.domain() == SystemError::posixDomain)
        return error.code();
    if (error.underlying())
        return posixCodeOfError(*error.underlying());
    // Codes of other domains are not errno values and must not be read as such.
    return std::nullopt;
}

QString underlyingErrorNote(const SystemError& error)
{
    return QStringLiteral("\nUnderlying: ") + error.domain() + QLatin1Char(' ')
        + QString::number(error.code()) + QLatin1Char(' ') + error.localizedDescription();
}

} // namespace qv
