#include "wheel/WheelSession.h"

#include "catalogue/ToolRegistry.h"

namespace qv {

WheelSession::WheelSession(QList<FileInfo> files, bool isClickMode, ContentSource source,
                           std::optional<WheelKind> wantedFirst, QObject* parent)
    : QObject(parent),
      m_files(std::move(files)),
      m_isClickMode(isClickMode),
      m_source(source ? std::move(source) : ContentSource(&wheelContentForSelection))
{
    if (wantedFirst)
        content(*wantedFirst);
    else
        fillContents();
}

void WheelSession::fillContents()
{
    for (const WheelKind kind : allCases<WheelKind>())
        content(kind);
}

const WheelContent& WheelSession::content(WheelKind kind)
{
    auto it = m_contents.find(kind);
    if (it == m_contents.end())
        it = m_contents.insert(kind, m_source(m_files, kind));
    return it.value();
}

void WheelSession::setThumbnail(const QImage& image)
{
    m_thumbnail = image;
    Q_EMIT thumbnailChanged();
}

} // namespace qv
