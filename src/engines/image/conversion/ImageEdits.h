#pragma once

#include "engines/image/DecodedImage.h"
#include "engines/image/ImageWork.h"
#include "model/files/FileInfo.h"
#include "model/operations/OperationContext.h"

#include <QImage>
#include <QRectF>
#include <QUrl>

#include <functional>

namespace qv {

// The crop, photo and annotate editors' results applied to an image file: without
// re-encoding when only the orientation changes, otherwise decoded, edited in a fixed order
// and written again.
class ImageEdits {
public:
    ImageEdits() = delete;

    // Cuts the picture's subject out (transparent elsewhere); given by the vision engine's
    // callers, since this engine sits below it.
    using SubjectLifter = std::function<QImage(const QImage&)>;

    // One output for the file, named with the operation's suffix ("edit", "annotate"). A
    // smaller result of a quality, format or size change notes "N % smaller". Throws
    // EngineError ("The crop area is empty", "No subject found in this image", the decoder's
    // and writer's), CancellationError; nothing is placed on failure.
    static QUrl applyEdits(const FileInfo& file, const OperationContext& context, const QString& operation,
                           const ImageWork& work, const SubjectLifter& lift = {});

    // Background removal, turn and flips, crop, adjustments, annotations, background colour,
    // size, each when asked for. `lifted` is the subject already cut out, when there is one.
    static DecodedImage editedImage(const DecodedImage& image, const OperationOptions& options,
                                    const SubjectLifter& lift = {},
                                    const std::optional<DecodedImage>& lifted = std::nullopt);

    // Exposure in stops of linear light, contrast around mid-grey, saturation of chroma,
    // warmth as a white balance toward 6500 - 2500 x warmth K, sharpness on lightness.
    static DecodedImage applyAdjustments(const DecodedImage& image, const PhotoAdjustments& adjustments);

    // The rectangle's whole pixels (edges moved outwards) within the picture; EngineError
    // "The crop area is empty" when nothing is left.
    static DecodedImage cropped(const DecodedImage& image, const QRectF& rect);

    // Whether the edit only changes the orientation or the metadata.
    static bool isLosslessEdit(const OperationOptions& options, const FileInfo& file);

    // Performs such an edit into destination (a new file); false when it cannot, so the caller
    // re-encodes.
    static bool applyLosslessEdit(const FileInfo& file, const OperationOptions& options, bool keepMetadata,
                                  const QString& destination);

    static QString emptyCropMessage();
};

} // namespace qv
