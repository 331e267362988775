#pragma once

#include "model/files/FileProbe.h"

#include <functional>

namespace qv {

// Reads the disk itself; what a file's contents say (a PDF's lock, an image's frames, a media
// file's streams) comes from the engines that read those contents, handed in at start-up.
class LocalFileProbe : public FileProbe {
public:
    struct ContentProbes {
        std::function<std::optional<bool>(const QString& path)> pdfNeedsPassword;
        std::function<std::optional<int>(const QString& path)> imageFrameCount;
        std::function<std::optional<MediaStreams>(const QString& path)> mediaStreams;
        std::function<void(const FilesAhead& files)> lookAhead;
    };

    explicit LocalFileProbe(ContentProbes contentProbes = {});

    std::optional<ItemStatus> status(const QString& path) const override;
    std::optional<QString> realPath(const QString& path) const override;
    std::optional<bool> pdfNeedsPassword(const QString& path) const override;
    std::optional<int> imageFrameCount(const QString& path) const override;
    std::optional<MediaStreams> mediaStreams(const QString& path) const override;
    void lookAhead(const FilesAhead& files) const override;

private:
    const ContentProbes m_contentProbes;
};

} // namespace qv
