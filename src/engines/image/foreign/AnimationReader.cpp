#include "engines/image/foreign/AnimationReader.h"

#include <QFile>

#include <webp/demux.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace qv {

namespace {

// 512 MB of RGBA: far above any real animation's frame.
constexpr qint64 maxCanvasPixels = qint64(1) << 27;

// One animated WebP being decoded front to back; the decoder keeps just the current canvas.
struct WebPStream {
    QFile file;
    WebPData data{};
    WebPAnimDecoder* decoder = nullptr;
    int width = 0;
    int height = 0;
    int frames = 0;
    int current = -1; // the frame the canvas holds
    uint8_t* canvas = nullptr;
    std::mutex mutex;

    ~WebPStream()
    {
        if (decoder)
            WebPAnimDecoderDelete(decoder);
    }
};

void deleteStream(gpointer stream)
{
    delete static_cast<WebPStream*>(stream);
}

// Fills a region from the canvas, decoding forward to the frames it covers. Requests come in
// order through vips_sequential; one that reaches back past the canvas is refused.
int generateWebP(VipsRegion* region, void*, void* a, void*, gboolean*)
{
    auto* stream = static_cast<WebPStream*>(a);
    const VipsRect& rect = region->valid;
    const std::lock_guard lock(stream->mutex);
    for (int y = rect.top; y < rect.top + rect.height; ++y) {
        const int frame = y / stream->height;
        if (frame < stream->current) {
            vips_error("webpstream", "frame %d requested after frame %d", frame, stream->current);
            return -1;
        }
        while (stream->current < frame) {
            int timestamp = 0;
            if (!WebPAnimDecoderHasMoreFrames(stream->decoder)
                || !WebPAnimDecoderGetNext(stream->decoder, &stream->canvas, &timestamp)) {
                vips_error("webpload", "frame %d does not decode", stream->current + 1);
                return -1;
            }
            ++stream->current;
        }
        const size_t row = size_t(y % stream->height) * size_t(stream->width) * 4;
        std::memcpy(VIPS_REGION_ADDR(region, rect.left, y), stream->canvas + row + size_t(rect.left) * 4,
                    size_t(rect.width) * 4);
    }
    return 0;
}

VipsImage* openWebP(std::unique_ptr<WebPStream> stream)
{
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        return nullptr;
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    stream->decoder = WebPAnimDecoderNew(&stream->data, &options);
    WebPAnimInfo info;
    if (!stream->decoder || !WebPAnimDecoderGetInfo(stream->decoder, &info) || info.frame_count < 1
        || info.canvas_width < 1 || info.canvas_height < 1) {
        vips_error("webpload", "not a readable animation");
        return nullptr;
    }
    stream->width = int(info.canvas_width);
    stream->height = int(info.canvas_height);
    stream->frames = int(info.frame_count);

    std::vector<int> delays;
    const WebPDemuxer* demuxer = WebPAnimDecoderGetDemuxer(stream->decoder);
    WebPIterator iterator;
    for (int index = 1; index <= stream->frames; ++index) {
        int duration = 0;
        if (WebPDemuxGetFrame(demuxer, index, &iterator)) {
            duration = iterator.duration;
            WebPDemuxReleaseIterator(&iterator);
        }
        delays.push_back(duration);
    }

    VipsImage* image = vips_image_new();
    vips_image_init_fields(image, stream->width, stream->height * stream->frames, 4, VIPS_FORMAT_UCHAR,
                           VIPS_CODING_NONE, VIPS_INTERPRETATION_sRGB, 1.0, 1.0);
    if (vips_image_pipelinev(image, VIPS_DEMAND_STYLE_THINSTRIP, nullptr) != 0) {
        g_object_unref(image);
        return nullptr;
    }
    vips_image_set_int(image, VIPS_META_PAGE_HEIGHT, stream->height);
    vips_image_set_int(image, VIPS_META_N_PAGES, stream->frames);
    vips_image_set_array_int(image, "delay", delays.data(), int(delays.size()));
    vips_image_set_int(image, "loop", int(info.loop_count));
    WebPStream* owned = stream.release();
    g_object_set_data_full(G_OBJECT(image), "qv-webp-stream", owned, deleteStream);
    if (vips_image_generate(image, nullptr, generateWebP, nullptr, owned, nullptr) != 0) {
        g_object_unref(image);
        return nullptr;
    }
    // Serialises and orders the requests of the pipeline's threads.
    VipsImage* ordered = nullptr;
    const int status = vips_sequential(image, &ordered, nullptr);
    g_object_unref(image);
    return status == 0 ? ordered : nullptr;
}

struct WebPExtent {
    qint64 width = 0;
    qint64 height = 0;
    qint64 frames = 0;
};

// The canvas and frame count of an animated WebP, from its chunk headers; nothing for any other
// file.
std::optional<WebPExtent> animatedWebPExtent(const uchar* data, qint64 size)
{
    if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WEBP", 4) != 0)
        return std::nullopt;
    WebPData webp{data, size_t(size)};
    WebPDemuxer* demuxer = WebPDemux(&webp);
    if (!demuxer)
        return std::nullopt;
    std::optional<WebPExtent> extent;
    if ((WebPDemuxGetI(demuxer, WEBP_FF_FORMAT_FLAGS) & ANIMATION_FLAG) != 0
        && WebPDemuxGetI(demuxer, WEBP_FF_FRAME_COUNT) > 1)
        extent = WebPExtent{WebPDemuxGetI(demuxer, WEBP_FF_CANVAS_WIDTH),
                            WebPDemuxGetI(demuxer, WEBP_FF_CANVAS_HEIGHT),
                            WebPDemuxGetI(demuxer, WEBP_FF_FRAME_COUNT)};
    WebPDemuxDelete(demuxer);
    return extent;
}

// Pages of different sizes (a multi-page TIFF): each page on its own, as sRGB with alpha,
// centred on a transparent canvas of the first page's size.
VipsImage* openPagesOnCanvas(const QByteArray& native, int pages, int width, int height)
{
    std::vector<VipsImage*> frames;
    const auto release = [&frames] {
        for (VipsImage* frame : frames)
            g_object_unref(frame);
    };
    for (int page = 0; page < pages; ++page) {
        VipsImage* image = vips_image_new_from_file(native.constData(), "page", page, "access",
                                                    VIPS_ACCESS_SEQUENTIAL, "fail_on", VIPS_FAIL_ON_ERROR, nullptr);
        VipsImage* steps[4] = {};
        const bool ok = image && vips_colourspace(image, &steps[0], VIPS_INTERPRETATION_sRGB, nullptr) == 0
                     && vips_cast(steps[0], &steps[1], VIPS_FORMAT_UCHAR, nullptr) == 0
                     && (vips_image_hasalpha(steps[1]) ? vips_copy(steps[1], &steps[2], nullptr)
                                                       : vips_bandjoin_const1(steps[1], &steps[2], 255, nullptr))
                            == 0
                     && vips_gravity(steps[2], &steps[3], VIPS_COMPASS_DIRECTION_CENTRE, width, height, "extend",
                                     VIPS_EXTEND_BLACK, nullptr)
                            == 0;
        if (image)
            g_object_unref(image);
        for (int at = 0; at < 3; ++at)
            if (steps[at])
                g_object_unref(steps[at]);
        if (!ok) {
            if (steps[3])
                g_object_unref(steps[3]);
            release();
            return nullptr;
        }
        frames.push_back(steps[3]);
    }
    VipsImage* joined = nullptr;
    const int status = vips_arrayjoin(frames.data(), &joined, int(frames.size()), "across", 1, nullptr);
    release();
    if (status != 0)
        return nullptr;
    vips_image_set_int(joined, VIPS_META_PAGE_HEIGHT, height);
    vips_image_set_int(joined, VIPS_META_N_PAGES, pages);
    return joined;
}

VipsImage* openWithVips(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    // A damaged frame fails the read instead of showing as grey blocks. libnsgif reports some
    // damaged frames only as warnings, so for GIF warnings count (libpng warns of harmless
    // things, such as a known-incorrect sRGB profile).
    const char* loader = vips_foreign_find_load(native.constData());
    if (!loader)
        vips_error_clear();
    const VipsFailOn failOn = loader && std::strstr(loader, "gif") ? VIPS_FAIL_ON_WARNING : VIPS_FAIL_ON_ERROR;
    VipsImage* header = vips_image_new_from_file(native.constData(), "access", VIPS_ACCESS_SEQUENTIAL, "fail_on",
                                                 failOn, nullptr);
    if (!header || vips_image_get_n_pages(header) <= 1)
        return header;
    const int pages = vips_image_get_n_pages(header);
    const int width = header->Xsize;
    const int height = header->Ysize;
    g_object_unref(header);
    if (VipsImage* all = vips_image_new_from_file(native.constData(), "n", -1, "access",
                                                  VIPS_ACCESS_SEQUENTIAL, "fail_on", failOn, nullptr))
        return all;
    vips_error_clear();
    return openPagesOnCanvas(native, pages, width, height);
}

} // namespace

VipsImage* openAnimationImage(const QString& path)
{
    auto stream = std::make_unique<WebPStream>();
    stream->file.setFileName(path);
    if (stream->file.open(QIODevice::ReadOnly)) {
        const qint64 size = stream->file.size();
        // Mapped, not read: the compressed file is paged in as the decoder walks it.
        uchar* mapped = size > 0 ? stream->file.map(0, size) : nullptr;
        if (const auto extent = mapped ? animatedWebPExtent(mapped, size) : std::nullopt) {
            // A header may claim a canvas of gigabytes in a few bytes: refuse before the
            // decoder allocates it. The stacked frames must also fit libvips' coordinates.
            if (extent->width * extent->height > maxCanvasPixels
                || extent->height * extent->frames > VIPS_MAX_COORD) {
                vips_error("webpload", "animation too large");
                return nullptr;
            }
            stream->data = WebPData{mapped, size_t(size)};
            return openWebP(std::move(stream));
        }
    }
    return openWithVips(path);
}

} // namespace qv
