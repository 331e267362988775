#pragma once

#include "engines/media/operations/MediaConversion.h"
#include "engines/media/probe/MediaInfo.h"

#include <QStringList>

#include <functional>
#include <optional>

namespace qv {

// The shared shape of the sound tools: the first sound of the file re-encoded into `target`
// (the file's own format when none) with `extra` arguments, the cover kept where the format
// holds one, placed as "<name> (suffix)". Throws EngineError "This file has no audio".
QUrl reencodeAudio(const FileInfo& file, const QString& suffix, const OperationContext& context,
                   const MediaWork& work, std::optional<AudioTarget> target = std::nullopt,
                   const std::function<QStringList(const MediaInfo&)>& extra = {});

// Loudness brought to -16 LUFS at the file's own rate.
QUrl normalizeLoudness(const FileInfo& file, const QString& suffix, const OperationContext& context,
                       const MediaWork& work);

// The builder gives the fade filters for the probed file.
QUrl fadeAudio(const FileInfo& file, const QString& suffix, const OperationContext& context, const MediaWork& work,
               const std::function<QStringList(const MediaInfo&)>& filters);

QUrl makeMono(const FileInfo& file, const QString& suffix, const OperationContext& context, const MediaWork& work);

QUrl changeSampleRate(const FileInfo& file, const QString& suffix, const OperationContext& context,
                      const MediaWork& work, int sampleRate);

// AAC (or the file's own MP3, M4A, Ogg or Opus) at the preset's bitrate as
// "<name> (compressed)", with a note of the saving; throws EngineError "Already as small as it
// gets" and places nothing when the result is not smaller.
QUrl compressAudio(const FileInfo& file, const OperationContext& context, const MediaWork& work);

} // namespace qv
