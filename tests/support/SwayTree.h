#pragma once

#include <QJsonObject>
#include <QList>

namespace qv::test {

class HeadlessCompositor;

// sway's tree of outputs, workspaces and windows now (swaymsg -t get_tree); an empty object
// where no sway answers.
QJsonObject swayTree(const HeadlessCompositor& compositor);

// Every node of a tree, its floating ones included, each before its children.
QList<QJsonObject> swayNodes(const QJsonObject& tree);

} // namespace qv::test
