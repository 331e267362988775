#pragma once

#include "model/operations/Annotation.h"
#include "model/operations/MergeLayout.h"
#include "model/operations/PageRange.h"
#include "model/operations/PhotoAdjustments.h"
#include "model/operations/SplitMode.h"
#include "model/settings/SettingsEnums.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QUrl>

#include <optional>

namespace qv {

// The choices that travel with one run of an operation. An absent value means the setting or
// the engine's own default applies; the sheet writes a value only when the user changes one.
struct OperationOptions {
    std::optional<double> quality; // 0...1
    std::optional<int> maxDimension;
    std::optional<QSizeF> exactSize;
    std::optional<double> resizeScale;
    std::optional<bool> lossless;
    std::optional<QString> alphaBackground; // hexadecimal colour
    std::optional<QualityPreset> videoPreset;
    std::optional<VideoCodecChoice> videoCodec;
    std::optional<int> maxResolution;
    std::optional<int> audioBitrate; // kbit/s
    std::optional<int> sampleRate;   // Hz
    std::optional<PDFCompressionLevel> pdfCompression;
    std::optional<double> dpi;
    std::optional<PageSizeChoice> pageSize;
    std::optional<QList<PageRange>> pageRanges;
    std::optional<SplitMode> split;
    std::optional<QString> password;
    std::optional<int> rotation; // degrees
    std::optional<bool> flipHorizontal;
    std::optional<bool> flipVertical;
    std::optional<QRectF> cropRect;
    std::optional<double> trimStart; // seconds
    std::optional<double> trimEnd;
    std::optional<bool> fastTrim;
    std::optional<double> speed;
    std::optional<double> fadeIn;
    std::optional<double> fadeOut;
    std::optional<int> subtitleShiftMilliseconds; // negative is earlier
    std::optional<double> snapshotTime;
    std::optional<QList<int>> pageOrder;
    std::optional<QMap<int, QList<QRectF>>> redactions; // by page index
    std::optional<QString> backgroundColor;             // hexadecimal colour or "blur"
    std::optional<MergeLayout> mergeLayout;
    std::optional<QList<QUrl>> fileOrder;
    std::optional<PhotoAdjustments> photo;
    std::optional<bool> removeBackground;
    std::optional<QString> outputFormat; // an image output name; anything else keeps the source's
    std::optional<bool> stripMetadata;
    std::optional<QList<Annotation>> annotations; // in drawing order
    std::optional<bool> allSheets;
    std::optional<bool> shellEscapedPaths;

    bool isEmpty() const { return *this == OperationOptions{}; }

    // A copy without the values that belong to one particular file or selection, which must
    // not become an operation's remembered default.
    OperationOptions withoutPerFileValues() const;

    bool operator==(const OperationOptions&) const = default;
};

// Compact JSON with absent values left out; none when a number is infinite or not a number,
// since JSON cannot hold it.
std::optional<QByteArray> encodeOperationOptions(const OperationOptions& options);

// None when the text is not a JSON object or any value has the wrong form; `error` then says why.
// Unknown keys are ignored and null reads as absent.
std::optional<OperationOptions> decodeOperationOptions(const QByteArray& json,
                                                       QString* error = nullptr);

// "quorvenda.options." followed by the operation id as it is.
QString rememberedOptionsKey(const QString& operationId);

} // namespace qv
