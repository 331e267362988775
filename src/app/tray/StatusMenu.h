#pragma once

#include "app/tray/StatusMenuModel.h"

class QMenu;

namespace qv {

class MenuActions;

// Empties the tray menu and fills it from the model; every command goes to actions.
void rebuildStatusMenu(QMenu& menu, const StatusMenuModel& model, MenuActions& actions);

} // namespace qv
