#include "model/errors/EngineError.h"
#include "model/errors/FFmpegError.h"
#include "model/errors/JobFailure.h"
#include "model/errors/SystemError.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>

using namespace qv;

namespace {

template <typename E>
JobFailure failureOf(const E& error)
{
    return jobFailure(std::make_exception_ptr(error));
}

} // namespace

TEST(JobFailure, EngineAndFFmpegErrors)
{
    EXPECT_EQ(failureOf(EngineError(QStringLiteral("Bad page"))),
              (JobFailure{QStringLiteral("Bad page"), QStringLiteral("Bad page")}));
    EXPECT_EQ(failureOf(EngineError(QStringLiteral("Bad page"), QStringLiteral("trace"))),
              (JobFailure{QStringLiteral("Bad page"), QStringLiteral("trace")}));

    const FFmpegError ffmpeg(1, QStringLiteral("out.mp4: No Space Left on device"));
    EXPECT_EQ(failureOf(ffmpeg).message, QStringLiteral("Not enough disk space"));
    EXPECT_EQ(failureOf(ffmpeg).details, ffmpeg.log());
    EXPECT_EQ(ffmpeg.localizedDescription(), QStringLiteral("Not enough disk space"));
}

TEST(JobFailure, FFmpegLogSentences)
{
    const struct {
        const char* log;
        const char* sentence;
    } rows[] = {
        {"write failed: no space left on device", "Not enough disk space"},
        {"out.mp4: Permission denied", "Quorvenda isn't allowed to save there"},
        {"Operation not permitted", "Quorvenda isn't allowed to save there"},
        {"Decoder (codec none) not found for input stream", "This file uses a codec that can't be converted"},
        {"decoder: unknown codec id", "This file uses a codec that can't be converted"},
        {"Unsupported codec with id 0", "This file uses a codec that can't be converted"},
        {"x.mov: Invalid data found when processing input", "This file is damaged or not in a supported format"},
        {"moov atom not found", "This file is damaged or not in a supported format"},
        {"Could not find codec parameters for stream 0", "This file is damaged or not in a supported format"},
        {"Output file does not contain any stream", "This file has no usable audio or video"},
        {"Stream map '0:a' matches no streams.", "This file has no usable audio or video"},
        {"Error encoding frame", "The video encoder couldn't handle this file"},
        {"Error while opening encoder for output stream #0:0 - maybe incorrect parameters", "The video encoder couldn't handle this file"},
        {"[libopus @ 0x55c28a1b8c00] Specified sample rate 44100 is not supported\nError initializing output stream 0:0 -- "
         "Error while opening encoder for output stream #0:0 - maybe incorrect parameters",
         "The audio encoder couldn't handle this file"},
        {"[aac @ 0x1] Input buffer exhausted\n[libx264 @ 0x2] width not divisible by 2\n"
         "Error while opening encoder for output stream #0:0 - maybe incorrect parameters",
         "The video encoder couldn't handle this file"},
        {"Finishing stream 0:0 without any data written to it.\n[libx264 @ 0x2] width not divisible by 2 (0x0)\n"
         "Error while opening encoder for output stream #0:0 - maybe incorrect parameters",
         "This file has no frames to convert"},
        {"Error while decoding stream #0:0: Invalid data found when processing input\n"
         "Output file is empty, nothing was encoded (check -ss / -t / -frames parameters if used)",
         "This file has no frames to convert"},
        {"Could not write header for output file", "This combination of codec and format isn't supported"},
        {"codec not currently supported in container", "This combination of codec and format isn't supported"},
        {"decoder busy", "Conversion failed"},
        {"", "Conversion failed"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(ffmpegLogMessage(QString::fromUtf8(row.log)), QString::fromUtf8(row.sentence))
            << row.log;
}

TEST(JobFailure, FileErrorsUseTheirSentences)
{
    const struct {
        int code;
        const char* sentence;
    } rows[] = {
        {EPERM, "Quorvenda isn't allowed to save there"},
        {EACCES, "Quorvenda isn't allowed to save there"},
        {ENOENT, "The file is no longer there"},
        {ENOSPC, "Not enough disk space"},
        {EROFS, "The destination is read-only"},
    };
    for (const auto& row : rows) {
        const JobFailure failure = failureOf(SystemError::fromErrno(row.code));
        EXPECT_EQ(failure.message, QString::fromUtf8(row.sentence)) << row.code;
        EXPECT_TRUE(failure.details.startsWith(QStringLiteral("POSIX %1: ").arg(row.code)));
    }
    EXPECT_FALSE(posixErrorMessage(EIO));
    EXPECT_FALSE(posixErrorMessage(std::nullopt));
    // No sentence of its own: the system's description.
    EXPECT_EQ(failureOf(SystemError::fromErrno(EIO)).message, QStringLiteral("Input/output error"));
}

TEST(JobFailure, LibraryCodesAreNotReadAsFileErrors)
{
    // A library's code 28 is not "no space left".
    const SystemError library(QStringLiteral("libarchive"), 28, QStringLiteral("Truncated input"));
    EXPECT_EQ(failureOf(library).message, QStringLiteral("Truncated input"));
    EXPECT_EQ(failureOf(library).details, QStringLiteral("libarchive 28: Truncated input"));

    // A file error underneath decides, whatever the outer code.
    const auto full = std::make_shared<SystemError>(SystemError::fromErrno(ENOSPC));
    const SystemError wrapped(QStringLiteral("MuPDF"), 2, QStringLiteral("cannot save"), full);
    const JobFailure failure = failureOf(wrapped);
    EXPECT_EQ(failure.message, QStringLiteral("Not enough disk space"));
    EXPECT_EQ(failure.details,
              QStringLiteral("MuPDF 2: cannot save\nUnderlying: POSIX 28 ") + full->localizedDescription());

    const auto other = std::make_shared<SystemError>(QStringLiteral("zlib"), 3, QStringLiteral("bad"));
    EXPECT_EQ(failureOf(SystemError(QStringLiteral("Qt"), 2, QStringLiteral("Own words"), other)).message,
              QStringLiteral("Own words"));
}

TEST(JobFailure, LongDescriptionsAreCut)
{
    const QString ninety(90, QLatin1Char('a'));
    EXPECT_EQ(failureOf(SystemError(QStringLiteral("X"), 1, ninety)).message, ninety);

    const QString ninetyOne(91, QLatin1Char('b'));
    const QString cut = failureOf(SystemError(QStringLiteral("X"), 1, ninetyOne)).message;
    EXPECT_EQ(cut, QString(87, QLatin1Char('b')) + QChar(0x2026));
    // The details keep the whole text.
    EXPECT_TRUE(failureOf(SystemError(QStringLiteral("X"), 1, ninetyOne)).details.endsWith(ninetyOne));

    // Engine messages are never cut.
    EXPECT_EQ(failureOf(EngineError(ninetyOne)).message, ninetyOne);

    EXPECT_EQ(failureOf(std::runtime_error("boom")).message, QStringLiteral("boom"));
}

TEST(JobFailure, DetailsSayARepeatedLineOnce)
{
    QStringList lines{QStringLiteral("VipsForeignLoad: \"a.png\" is not a known file format")};
    for (int i = 0; i < 20; ++i)
        lines.append(QStringLiteral("unable to open for read"));
    lines.append(QStringLiteral("last"));
    const JobFailure failure = failureOf(EngineError(QStringLiteral("Bad picture"), lines.join(QLatin1Char('\n'))));
    EXPECT_EQ(failure.message, QStringLiteral("Bad picture"));
    EXPECT_EQ(failure.details, QStringLiteral("VipsForeignLoad: \"a.png\" is not a known file format\n"
                                              "unable to open for read (20 times)\nlast"));
    // Logs without repeats stay as they are.
    EXPECT_EQ(failureOf(EngineError(QStringLiteral("x"), QStringLiteral("a\n\nb\n\nc"))).details,
              QStringLiteral("a\n\nb\n\nc"));
}

TEST(JobFailure, AWriteThatFoundNoRoomSaysSo)
{
    const JobFailure full = failureOf(EngineError(QStringLiteral("Couldn't write the PNG file"),
                                                  QStringLiteral("pngsave: write failed: No space left on device")));
    EXPECT_EQ(full.message, QStringLiteral("Not enough disk space"));
    EXPECT_EQ(full.details, QStringLiteral("pngsave: write failed: No space left on device"));
    EXPECT_EQ(failureOf(EngineError(QStringLiteral("Couldn't write the PNG file"), QStringLiteral("Disk quota exceeded"))).message,
              QStringLiteral("Not enough disk space"));
    EXPECT_EQ(failureOf(EngineError(QStringLiteral("Couldn't write the PNG file"), QStringLiteral("Input/output error"))).message,
              QStringLiteral("Couldn't write the PNG file"));
}
