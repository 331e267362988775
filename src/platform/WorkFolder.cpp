#include "platform/WorkFolder.h"

#include "model/SystemError.h"
#include "platform/FileItems.h"
#include "platform/TemporaryRoot.h"
#include "platform/WorkFolderRegistry.h"

#include <QFile>
#include <QUuid>

#include <optional>

#include <sys/stat.h>

namespace qv {

namespace {

QString newUuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

bool sameFilesystem(const QString& a, const QString& b)
{
    struct stat first {};
    struct stat second {};
    return ::stat(QFile::encodeName(a).constData(), &first) == 0
        && ::stat(QFile::encodeName(b).constData(), &second) == 0
        && first.st_dev == second.st_dev;
}

} // namespace

std::shared_ptr<WorkFolder> WorkFolder::create(const QString& destinationFolder)
{
    // Without a usable root, a folder beside the results still lets the item run.
    std::optional<SystemError> rootError;
    QString root;
    try {
        root = TemporaryRoot::secure();
    } catch (const SystemError& error) {
        rootError = error;
    }

    struct stat status {};
    const bool destinationExists =
        ::stat(QFile::encodeName(destinationFolder).constData(), &status) == 0
        && S_ISDIR(status.st_mode);
    if (destinationExists && (rootError || !sameFilesystem(root, destinationFolder))) {
        const QString folder = destinationFolder + QLatin1Char('/')
            + QLatin1String(hiddenPrefix) + newUuid();
        WorkFolderRegistry::add(folder);
        if (::mkdir(QFile::encodeName(folder).constData(), 0700) == 0)
            return std::shared_ptr<WorkFolder>(new WorkFolder(folder));
        // A destination we cannot write to: the result goes elsewhere anyway.
        WorkFolderRegistry::remove(folder);
    }
    if (rootError)
        throw *rootError;
    return std::shared_ptr<WorkFolder>(new WorkFolder(TemporaryRoot::makeLiveFolder(newUuid())));
}

WorkFolder::WorkFolder(QString path)
    : m_path(std::move(path))
{
}

WorkFolder::~WorkFolder()
{
    remove();
}

void WorkFolder::remove()
{
    if (m_removed.exchange(true))
        return;
    FileItems::remove(m_path);
    WorkFolderRegistry::remove(m_path);
}

} // namespace qv
