#include "engines/pdf/PdfCheckedPictures.h"

#include <QCryptographicHash>

namespace qv {

QByteArray PdfCheckedPictures::digestOf(QByteArrayView bytes)
{
    // A digest no one can make two pictures share: a damaged picture made to look like one
    // found whole would pass unread.
    return QCryptographicHash::hash(bytes, QCryptographicHash::Blake2b_256);
}

bool PdfCheckedPictures::contains(const QByteArray& digest) const
{
    std::lock_guard held(m_lock);
    return m_digests.contains(digest);
}

void PdfCheckedPictures::add(const QByteArray& digest)
{
    std::lock_guard held(m_lock);
    m_digests.insert(digest);
}

} // namespace qv
