#pragma once

#include "model/EnumText.h"

#include <optional>

namespace qv {

enum class EditorKind { crop, trim, split, photo, annotate, pdfReorder, pdfExtract, redact };

// Their texts below ("airDrop", "quickLook"...) make the stored operation ids and wheel groups,
// so they keep the first design's words.
enum class ActionKind { sendToDevice, float_, copy, move, copyPath, terminal, share, preview };

// How several files are treated: a work item each, one combined item, exactly one file, or the
// whole selection as one item in the order given.
enum class MultiFileMode { each, combine, single, batch };

template <>
struct EnumText<EditorKind> {
    static constexpr std::array names{"crop",     "trim",       "split",      "photo",
                                      "annotate", "pdfReorder", "pdfExtract", "redact"};
};
template <>
struct EnumText<ActionKind> {
    static constexpr std::array names{"airDrop",  "float",    "copy",  "move",
                                      "copyPath", "terminal", "share", "quickLook"};
};
template <>
struct EnumText<MultiFileMode> {
    static constexpr std::array names{"each", "combine", "single", "batch"};
};

// What choosing an operation does: open an editor, run a quick action, run a job at once, or
// show the options sheet first.
struct OperationBehavior {
    enum class Kind { editor, action, run, sheet };

    Kind kind = Kind::run;
    std::optional<EditorKind> editor;
    std::optional<ActionKind> action;

    static OperationBehavior run() { return {Kind::run, std::nullopt, std::nullopt}; }
    static OperationBehavior sheet() { return {Kind::sheet, std::nullopt, std::nullopt}; }
    static OperationBehavior editorOf(EditorKind kind) { return {Kind::editor, kind, std::nullopt}; }
    static OperationBehavior actionOf(ActionKind kind) { return {Kind::action, std::nullopt, kind}; }

    bool operator==(const OperationBehavior&) const = default;
};

} // namespace qv
