#include "support/SwayTree.h"

#include "support/HeadlessCompositor.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>

namespace qv::test {

QJsonObject swayTree(const HeadlessCompositor& compositor)
{
    const QDir runtime(compositor.runtimePath());
    const QStringList sockets = runtime.entryList({QStringLiteral("sway-ipc.*.sock")}, QDir::System);
    if (sockets.isEmpty())
        return {};
    QProcess swaymsg;
    swaymsg.start(QStringLiteral("swaymsg"), {QStringLiteral("-s"), runtime.filePath(sockets.first()), QStringLiteral("-r"),
                                              QStringLiteral("-t"), QStringLiteral("get_tree")});
    if (!swaymsg.waitForFinished(20000))
        return {};
    return QJsonDocument::fromJson(swaymsg.readAllStandardOutput()).object();
}

QList<QJsonObject> swayNodes(const QJsonObject& tree)
{
    if (tree.isEmpty())
        return {};
    QList<QJsonObject> nodes{tree};
    for (const char* key : {"nodes", "floating_nodes"}) {
        for (const QJsonValue& child : tree.value(QLatin1String(key)).toArray())
            nodes += swayNodes(child.toObject());
    }
    return nodes;
}

} // namespace qv::test
