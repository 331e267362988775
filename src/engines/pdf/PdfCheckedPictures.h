#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <mutex>
#include <set>

namespace qv {

// The pictures a job has found whole, by a digest of their bytes, for the files of one merge
// to share: a logo or letterhead each of them carries is parsed once. Safe on any thread.
class PdfCheckedPictures {
public:
    // The digest a picture is known by.
    static QByteArray digestOf(QByteArrayView bytes);

    bool contains(const QByteArray& digest) const;
    void add(const QByteArray& digest);

private:
    mutable std::mutex m_lock;
    std::set<QByteArray> m_digests;
};

} // namespace qv
