#pragma once

#include <QString>

namespace qv {

// What came of reading an archive's table of contents.
struct ArchiveListing {
    enum class Outcome {
        listed,     // every entry was read
        unreadable, // the reader does not know the format, or the data is damaged
        failed      // the reader itself could not be set up
    };
    Outcome outcome = Outcome::unreadable;
    QString error; // the reader's message when not listed

    bool isListed() const { return outcome == Outcome::listed; }
};

} // namespace qv
