#include "Commands.h"

#include "catalogue/ToolRegistry.h"
#include "model/settings/SettingsDefaults.h"
#include "wheel/SourceLabel.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QTextStream>

namespace qv::dev {

int wheel(const QStringList& args)
{
    const std::optional<WheelKind> kind =
        args.isEmpty() ? std::nullopt : enumFromString<WheelKind>(args.first());
    if (!kind || args.size() < 2) {
        QTextStream(stderr) << "usage: quorvenda-dev wheel convert|tools|actions FILE...\n";
        return 2;
    }
    registerDefaultSettings();
    QList<FileInfo> files;
    for (const QString& path : args.mid(1))
        files.append(fileInfoForURL(fileUrl(path)));

    QJsonObject json = wheelContentForSelection(files, *kind).toJson();
    json.insert(QStringLiteral("label"), sourceLabel(files));
    QTextStream(stdout) << QJsonDocument(json).toJson(QJsonDocument::Indented);
    return 0;
}

} // namespace qv::dev
