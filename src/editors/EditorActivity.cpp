#include "editors/EditorActivity.h"

namespace qv {

namespace {
int running = 0;
}

void EditorActivity::begin()
{
    ++running;
}

void EditorActivity::end()
{
    if (running > 0)
        --running;
}

int EditorActivity::count()
{
    return running;
}

} // namespace qv
