#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

namespace qv {

// Files another application offers in a drop without a path: they arrive only when asked
// to be written into a folder.
class FilePromise {
public:
    // One call per promised file, from any thread: the written file, or an error text.
    using Reader = std::function<void(std::optional<QUrl> file, const QString& error)>;

    virtual ~FilePromise() = default;
    // The names the drop announces; may be empty.
    virtual QStringList announcedNames() const = 0;
    // Writes the promised files into the folder without blocking the caller.
    virtual void receive(const QString& folder, Reader reader) = 0;
    // Why none of the promised files can be kept, as a sentence for the user; empty when they
    // may be.
    virtual QString refusal() const { return {}; }
};

} // namespace qv
