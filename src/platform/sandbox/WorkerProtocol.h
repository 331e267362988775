#pragma once

#include "model/files/FileInfo.h"
#include "model/settings/SettingsSnapshot.h"

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace qv {

// The messages between the application and a worker process: each a compact JSON object
// behind its length as four big-endian bytes, on a pipe each way. The application sends "run"
// (a work item) or "call" (a question about a file, such as its thumbnail) and nothing else; a
// worker answers with any number of "progress", "work" and "placed" messages and ends with one
// "done", "answer" or "failed", after which it takes the next request or ends when its input
// closes. A "ping", sent once to a worker just started, is answered with an empty "answer" as
// soon as the worker has loaded and listens. Pictures travel as raw pixels in a file of the worker's temporary folder, which the
// application reads and removes.
namespace WorkerProtocol {

// Larger frames are refused from either side: nothing sent is near it.
inline constexpr qint64 frameLimit = 64 << 20;

struct RunRequest {
    QString operationId;
    QList<FileInfo> files;
    QByteArray options; // encoded OperationOptions
    SettingsSnapshot settings;
    qint64 memoryLimitBytes = 0; // 0: none
    qint64 cpuSeconds = 0;       // 0: none
    // The one folder the item writes to besides the worker's own: its results wait there for
    // the application to place them, on the destination's filesystem.
    QString workFolder;
    // For each file, fileIdentity() of what it was when it was chosen; empty when not known.
    QStringList identities;
    // For each file, a descriptor open on the very file that was checked against its identity
    // (-1: none). The application's own while it sends the item; they travel beside the frame
    // (sendDescriptors), which says only which files have one, and become the worker's own.
    QList<int> descriptors;
    // The longest it may go without progress before it is ended; 0: no limit. Kept by the
    // application, not sent.
    qint64 quietSeconds = 0;

    // What the application expects back, from its own knowledge of the operation; kept by the
    // application, not sent.
    int resultLimit = 1;          // results the item may leave
    bool copiesText = false;      // whether it may put text on the clipboard
    QStringList resultExtensions; // what its results may be called besides what tools write
    QString resultSuffix;         // the operation's words in a result's name
    bool namesFromContents = false; // a result may take the name of what the input holds
    qint64 workSeconds = 0;       // processor time its whole sandbox may use; 0: no limit
    // fileIdentity() of the folders results may go to, by path, as they were when the job was
    // asked for; kept by the application, not sent.
    QHash<QString, QString> chosenFolders;
};

// How a file is told from another: the device and inode its path leads to, links followed;
// empty when nothing is there. From a descriptor: the file it holds.
QString fileIdentity(const QString& path);
QString fileIdentity(int fd);

// The sentence of an item whose input was replaced by another file after it was chosen.
QString replacedMessage();

// Where an item may write besides the worker's own folder: its work folder.
QStringList writableFolders(const RunRequest& request);

// A result the worker left in the item's work folder, and the name it should take where the
// application places it.
struct StagedResult {
    QString path;
    QString baseName;
    QString extension;
    // For a folder: the files, folders and links the tool says it holds (its archive's listing
    // and what the extraction added). Only ever a bound on what is looked at.
    std::optional<qint64> entries = std::nullopt;
};

// What an item or a question may read besides the system's folders: the folder of every file
// it names (its inputs, and files its options or arguments name by their full path). In its own
// namespaces a worker sees no other; workers that read for one list serve only the same list.
QStringList readableFolders(const RunRequest& request);
QStringList readableFolders(const QJsonObject& callArguments);

// The files and folders themselves that an item or a question names by their full path.
QStringList namedPaths(const RunRequest& request);
QStringList namedPaths(const QJsonObject& callArguments);

QJsonObject runMessage(const RunRequest& request);
std::optional<RunRequest> runRequest(const QJsonObject& message);

QJsonObject callMessage(const QString& name, const QJsonObject& arguments, qint64 memoryLimitBytes);
QJsonObject answerMessage(const QJsonObject& result);
QJsonObject pingMessage();

// A picture as a call's answer: its pixels written to a new file in folder. Throws
// SystemError when the file cannot be written whole.
QJsonObject pictureToJson(const QImage& picture, const QString& folder);
// The picture behind such an answer, whose file is then removed; nothing for a malformed one
// or a file that does not hold what it claims. Only files named as pictureToJson names them
// are read.
std::optional<QImage> pictureFromJson(const QJsonValue& value);

QJsonObject progressMessage(double fraction);
// A work folder the worker made: the application removes it when the worker dies.
QJsonObject workMessage(const QString& path);
// A result the worker placed, reported before the item ends for the same reason.
QJsonObject placedMessage(const QString& path);
QJsonObject doneMessage(const QStringList& outputs, const QStringList& messages,
                        const std::optional<QString>& clipboard, const QList<StagedResult>& staged = {});
QList<StagedResult> stagedResults(const QJsonObject& done);
QJsonObject failedMessage(const QString& message, const QString& details, bool cancelled,
                          const QStringList& messages);

QJsonObject settingsToJson(const SettingsSnapshot& settings);
SettingsSnapshot settingsFromJson(const QJsonObject& json);
FileInfo fileInfoFromJson(const QJsonObject& json);

// The variable that names, in a worker's environment, its end of the socket the inputs'
// descriptors come on.
inline constexpr char descriptorsVariable[] = "QUORVENDA_INPUT_SOCKET";
// The variable that names what a worker loads before its first request, before any file and
// any wall: "vips" for libvips.
inline constexpr char loadAheadVariable[] = "QUORVENDA_LOAD_AHEAD";

// Sends the descriptors (as SCM_RIGHTS) on a local socket; false when they did not all go.
bool sendDescriptors(int socket, const QList<int>& fds);
// Puts a descriptor received on the socket in place of each entry awaitedDescriptor, in
// order, close-on-exec; none waits: they were sent before the frame that asks for them. False,
// with every one received closed, when fewer came than are awaited.
inline constexpr int awaitedDescriptor = -2;
bool receiveDescriptors(int socket, QList<int>& descriptors);
// Closes every descriptor of the list and leaves -1 in its place.
void closeDescriptors(QList<int>& descriptors);

// Writes one frame whole, retrying short writes; false when the pipe is gone.
bool writeFrame(int fd, const QJsonObject& message);

// Gathers frames from bytes as they arrive.
class FrameReader {
public:
    void append(const QByteArray& bytes) { m_buffer += bytes; }
    // The next whole frame, if any. Sets broken on a frame that is too large or not an object.
    std::optional<QJsonObject> next();
    bool broken() const { return m_broken; }

private:
    QByteArray m_buffer;
    bool m_broken = false;
};

// Reads until a whole frame has arrived; nothing when the pipe closes or the data is broken.
std::optional<QJsonObject> readFrame(int fd, FrameReader& reader);

} // namespace WorkerProtocol

} // namespace qv
