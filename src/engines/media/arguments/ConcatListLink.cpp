#include "engines/media/arguments/ConcatListLink.h"

#include "model/errors/SystemError.h"
#include "platform/files/TemporaryRoot.h"

#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <unistd.h>

namespace qv {

ConcatListLink::ConcatListLink(const QString& listPath) : m_path(listPath)
{
    const QFileInfo list(listPath);
    const QString folder = list.absolutePath();
    if (!folder.contains(QLatin1Char('?')) && !folder.contains(QLatin1Char('#')))
        return;
    QString root = appTemporaryRoot().toLocalFile();
    if (root.endsWith(QLatin1Char('/')))
        root.chop(1);
    m_link = root + QStringLiteral("/concat-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (::symlink(QFile::encodeName(folder).constData(), QFile::encodeName(m_link).constData()) != 0) {
        const int error = errno;
        m_link.clear();
        throw SystemError::fromErrno(error, QStringLiteral("Cannot link the work folder"));
    }
    m_path = m_link + QLatin1Char('/') + list.fileName();
}

ConcatListLink::~ConcatListLink()
{
    if (!m_link.isEmpty())
        ::unlink(QFile::encodeName(m_link).constData());
}

} // namespace qv
