#pragma once

#include <QString>

#include <exception>
#include <optional>

namespace qv {

class SystemError;

// What one failed work item reports: a sentence for the user and the technical text behind it.
struct JobFailure {
    QString message;
    QString details;

    bool operator==(const JobFailure&) const = default;
};

// The only way an error becomes a JobFailure. Cancellation is told apart before this is called.
JobFailure jobFailure(const std::exception_ptr& error);

// The sentence for an FFmpeg log.
QString ffmpegLogMessage(const QString& log);

// The sentence of a write refused because the file outgrew what the filesystem (FAT's 4 GB) or
// the process may hold.
QString fileTooLargeMessage();

// The sentence for an errno value of our own file layer, when there is one.
std::optional<QString> posixErrorMessage(std::optional<int> code);

// The errno value behind an error: its own in the POSIX domain, else its underlying error's.
std::optional<int> posixCodeOfError(const SystemError& error);

QString underlyingErrorNote(const SystemError& error);

} // namespace qv
