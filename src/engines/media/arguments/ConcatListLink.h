#pragma once

#include <QString>

namespace qv {

// The path FFmpeg should open a concat list by. The demuxer finds the list's bare names beside
// the list through a URL, where "?" and "#" in a folder name cut the path short; a list in such
// a folder is reached through a link of a plain name in the temporary root, removed again
// when this goes.
class ConcatListLink {
public:
    // Throws SystemError when the link cannot be made.
    explicit ConcatListLink(const QString& listPath);
    ~ConcatListLink();
    ConcatListLink(const ConcatListLink&) = delete;
    ConcatListLink& operator=(const ConcatListLink&) = delete;

    const QString& path() const { return m_path; }

private:
    QString m_path;
    QString m_link;
};

} // namespace qv
