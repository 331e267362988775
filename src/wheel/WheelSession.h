#pragma once

#include "model/files/FileInfo.h"
#include "model/wheel/WheelContent.h"
#include "wheel/SelectionSummary.h"

#include <QHash>
#include <QImage>
#include <QObject>

#include <functional>

namespace qv {

// What one drag or one click-opened wheel was given, with the content of each wheel for it.
// A newer selection gets a new session; files and click mode never change.
class WheelSession : public QObject {
    Q_OBJECT

public:
    using ContentSource = std::function<WheelContent(const QList<FileInfo>&, WheelKind)>;

    // Fills the contents of convert, tools and actions at once, in that order; with a kind
    // wanted first, only that one until fillContents. Without a source the operation registry
    // decides, from the selection's kinds alone.
    WheelSession(QList<FileInfo> files, bool isClickMode, ContentSource source = {},
                 std::optional<WheelKind> wantedFirst = std::nullopt, QObject* parent = nullptr);
    WheelSession(SelectionSummary selection, bool isClickMode, ContentSource source = {},
                 std::optional<WheelKind> wantedFirst = std::nullopt, QObject* parent = nullptr);

    // The contents not worked out yet, in the order of the kinds.
    void fillContents();

    // Every file, made on first use when the session began on a summary.
    const QList<FileInfo>& files() const;
    const SelectionSummary& selection() const { return m_selection; }
    qsizetype fileCount() const { return m_selection.count(); }
    // The files' URLs, promises left out unless asked for.
    QList<QUrl> urls(bool withPromises) const;
    bool isClickMode() const { return m_isClickMode; }

    // The stored content of the kind, asked for and stored first when missing.
    const WheelContent& content(WheelKind kind);
    bool hasContent(WheelKind kind) const { return m_contents.contains(kind); }

    // The centre picture: the first file's icon at first, a thumbnail later.
    const std::optional<QImage>& thumbnail() const { return m_thumbnail; }
    void setThumbnail(const QImage& image);

Q_SIGNALS:
    void thumbnailChanged();

private:
    const SelectionSummary m_selection;
    mutable std::optional<QList<FileInfo>> m_files;
    const bool m_isClickMode;
    ContentSource m_source; // empty: the registry, by kinds
    QHash<WheelKind, WheelContent> m_contents;
    std::optional<QImage> m_thumbnail;
};

} // namespace qv
