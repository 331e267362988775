#pragma once

#include <dlfcn.h>

namespace qv {

// Points function at the symbol of that name in a library opened with dlopen; false when the
// library has none (an older version than the one built against).
template <typename Function>
bool resolveSymbol(void* library, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(::dlsym(library, name));
    return function != nullptr;
}

} // namespace qv
