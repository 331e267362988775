#include "wheel/WheelSession.h"

#include "catalogue/ToolRegistry.h"

namespace qv {

WheelSession::WheelSession(QList<FileInfo> files, bool isClickMode, ContentSource source,
                           std::optional<WheelKind> wantedFirst, QObject* parent)
    : WheelSession(SelectionSummary(std::move(files)), isClickMode, std::move(source), wantedFirst,
                   parent)
{
}

WheelSession::WheelSession(SelectionSummary selection, bool isClickMode, ContentSource source,
                           std::optional<WheelKind> wantedFirst, QObject* parent)
    : QObject(parent),
      m_selection(std::move(selection)),
      m_isClickMode(isClickMode),
      m_source(std::move(source))
{
    if (m_selection.hasFiles())
        m_files = m_selection.files();
    if (wantedFirst)
        content(*wantedFirst);
    else
        fillContents();
}

const QList<FileInfo>& WheelSession::files() const
{
    if (!m_files)
        m_files = m_selection.files();
    return *m_files;
}

QList<QUrl> WheelSession::urls(bool withPromises) const
{
    if (withPromises || !m_selection.hasFiles())
        return m_selection.urls(); // only a list known whole holds promises
    QList<QUrl> urls;
    for (const FileInfo& file : files()) {
        if (!file.isPromise)
            urls.append(file.url);
    }
    return urls;
}

void WheelSession::fillContents()
{
    for (const WheelKind kind : allCases<WheelKind>())
        content(kind);
}

const WheelContent& WheelSession::content(WheelKind kind)
{
    auto it = m_contents.find(kind);
    if (it == m_contents.end()) {
        it = m_contents.insert(kind, m_source ? m_source(files(), kind)
                                              : wheelContentForKinds(m_selection.kinds(),
                                                                     m_selection.counts(), kind));
    }
    return it.value();
}

void WheelSession::setThumbnail(const QImage& image)
{
    m_thumbnail = image;
    Q_EMIT thumbnailChanged();
}

} // namespace qv
