// SRT, WebVTT, ASS and SSA files through loadSubtitles, as a subtitle job reads them.
#include "FuzzSupport.h"

#include "documents/subtitles/Subtitles.h"
#include "model/errors/Error.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qvfuzz::startQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte picks the extension, which picks the parser.
    static const char* const extensions[] = {"srt", "vtt", "webvtt", "ass", "ssa", "txt"};
    const QString name = QStringLiteral("input.") + QLatin1String(extensions[data[0] % 6]);
    const QString path = qvfuzz::writeScratchFile(name, qvfuzz::bytesOf(data + 1, size - 1));
    try {
        const qv::LoadedSubtitles loaded = qv::loadSubtitles(path);
        // What the subtitle tools do next with the cues.
        const auto shifted = qv::shiftCues(loaded.cues, -1500);
        const auto merged = qv::mergeCues({loaded.cues, shifted});
        for (auto format : {qv::SubtitleFormat::srt, qv::SubtitleFormat::vtt, qv::SubtitleFormat::ass})
            (void)qv::subtitleText(merged, format);
    } catch (const qv::Error&) {
    }
    return 0;
}
