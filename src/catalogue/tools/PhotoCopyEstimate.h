#pragma once

#include "engines/image/DecodedImage.h"
#include "model/files/FileInfo.h"
#include "model/operations/OperationOptions.h"
#include "model/settings/SettingsSnapshot.h"

#include <QJsonObject>
#include <QSize>
#include <QString>

#include <mutex>
#include <optional>
#include <stop_token>

namespace qv {

// The size the photo editor's recipe would give its copy, learnt by writing a trial copy: the
// lossless copy when the recipe leaves the pixels alone, otherwise the full-size picture edited
// and encoded as the job would.
class PhotoCopyEstimate {
public:
    PhotoCopyEstimate() = delete;

    struct Request {
        OperationOptions recipe;
        FileInfo file;
        QSize pixelSize;
        bool sourceHasAlpha = false;
        std::optional<int> originalQuality;
        SettingsSnapshot settings;
    };
    struct Result {
        qint64 bytes = 0;
        bool exact = false; // the size of the real output of a lossless edit
    };

    // Pictures above this many pixels get no estimate: decoding them whole costs too much.
    static constexpr qint64 pixelLimit = 50'000'000;

    // The full-size picture and its cut-out, made by the first estimate that needs them and
    // kept for the next ones of the same file. The lock also makes a newer estimate wait for a
    // decode already under way rather than start a second one.
    struct FullSize {
        std::mutex mutex;
        std::optional<DecodedImage> image;
        bool unreadable = false;
        std::optional<DecodedImage> cutout;
        int decodes = 0;
        int lifts = 0;
    };

    // The trial copy goes into folder and is removed however the estimate ends. Nothing when
    // it cannot be known; throws what the engines throw, CancellationError on a stop.
    static std::optional<Result> estimate(FullSize& full, const QString& folder, const Request& request,
                                          std::stop_token stop);

    // A request as it travels to a worker and back; nothing for a malformed one.
    static QJsonObject requestToJson(const Request& request);
    static std::optional<Request> requestFromJson(const QJsonObject& json);
};

} // namespace qv
