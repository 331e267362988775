#pragma once

#include <vector>

namespace qv {

// Files written one after another and synced to the disk together: each file's data starts on
// its way as soon as it is written, and the waits for the disk overlap, where a sync per file
// waits once each. A failed sync throws as PdfFileSink does: a full disk SystemError, anything
// else EngineError "Couldn't write the PDF".
class PdfSyncBatch {
public:
    PdfSyncBatch() = default;
    PdfSyncBatch(const PdfSyncBatch&) = delete;
    PdfSyncBatch& operator=(const PdfSyncBatch&) = delete;
    ~PdfSyncBatch();

    // Takes a descriptor of a file written whole; syncs the batch when it holds enough open
    // files.
    void add(int descriptor);
    // Syncs and closes every file added: only now are they written.
    void sync();

private:
    std::vector<int> m_files;
};

} // namespace qv
