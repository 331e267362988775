#pragma once

#include "model/SharedEnums.h"

#include <optional>

namespace qv {

// The engine family behind an operation; iwork and office carry the application they drive.
struct EngineID {
    enum class Kind {
        imageIO,
        ffmpeg,
        pdfKit,
        text,
        epub,
        ooxml,
        archive,
        subtitle,
        vision,
        system,
        iwork,
        libreOffice,
        office,
        deviceSharing // sending files to a paired phone or computer (KDE Connect)
    };

    Kind kind = Kind::system;
    std::optional<IWorkApp> app = {}; // set for iwork and office only

    static EngineID of(Kind kind) { return {kind, std::nullopt}; }
    static EngineID iwork(IWorkApp app) { return {Kind::iwork, app}; }
    static EngineID office(IWorkApp app) { return {Kind::office, app}; }

    bool operator==(const EngineID&) const = default;
};

inline size_t qHash(const EngineID& id, size_t seed = 0) noexcept
{
    return ::qHashMulti(seed, int(id.kind), id.app ? int(*id.app) : -1);
}

} // namespace qv
