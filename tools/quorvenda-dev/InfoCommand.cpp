#include "Commands.h"

#include "model/files/FileInfo.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QTextStream>

namespace qv::dev {

int info(const QStringList& args)
{
    if (args.isEmpty()) {
        QTextStream(stderr) << "usage: quorvenda-dev info PATH...\n";
        return 2;
    }
    QTextStream out(stdout);
    for (const QString& path : args) {
        const QUrl url = fileUrl(path);
        out << QJsonDocument(fileInfoForURL(url).toJson()).toJson(QJsonDocument::Compact) << '\n';
    }
    return 0;
}

} // namespace qv::dev
