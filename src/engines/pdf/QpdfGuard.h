#pragma once

#include "model/errors/EngineError.h"
#include "model/errors/Error.h"

#include <new>

namespace qv {

// Runs work over a document qpdf has opened. qpdf reads objects only when they are used, so a
// damaged one can throw long after opening: that is a damaged file, not a crash of ours.
template <typename Work>
decltype(auto) guardedRead(Work&& work)
{
    try {
        return work();
    } catch (const Error&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        throw EngineError(QStringLiteral("This file is damaged or not in a supported format"),
                          QString::fromUtf8(e.what()));
    }
}

} // namespace qv
