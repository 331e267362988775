#include "platform/sandbox/WorkerProtocol.h"

#include "model/errors/SystemError.h"
#include "model/files/FileCategory.h"
#include "model/files/FileFormat.h"
#include "model/settings/SettingsEnums.h"
#include "platform/files/TemporaryRoot.h"

#include <QJsonArray>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QUuid>
#include <QFileInfo>
#include <QJsonDocument>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <algorithm>
#include <poll.h>
#include <sys/socket.h>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

namespace qv::WorkerProtocol {

namespace {

QString type(const char* name)
{
    return QString::fromLatin1(name);
}

QJsonArray stringArray(const QStringList& list)
{
    return QJsonArray::fromStringList(list);
}

template <typename E>
E enumOr(const QJsonValue& value, E fallback)
{
    return enumFromString<E>(value.toString()).value_or(fallback);
}

} // namespace

QJsonObject settingsToJson(const SettingsSnapshot& s)
{
    QJsonObject suffixes;
    for (auto it = s.suffixes.cbegin(); it != s.suffixes.cend(); ++it)
        suffixes.insert(it.key(), it.value());
    QJsonObject o;
    o.insert(QStringLiteral("saveLocation"), toString(s.saveLocation));
    o.insert(QStringLiteral("outputFolder"), s.outputFolder ? QJsonValue(s.outputFolder->toString(QUrl::FullyEncoded)) : QJsonValue());
    o.insert(QStringLiteral("fallbackFolder"), s.fallbackFolder.toString(QUrl::FullyEncoded));
    o.insert(QStringLiteral("suffixes"), suffixes);
    o.insert(QStringLiteral("preserveMetadata"), s.preserveMetadata);
    o.insert(QStringLiteral("preserveDates"), s.preserveDates);
    o.insert(QStringLiteral("jpegQuality"), s.jpegQuality);
    o.insert(QStringLiteral("heicQuality"), s.heicQuality);
    o.insert(QStringLiteral("webpQuality"), s.webpQuality);
    o.insert(QStringLiteral("cpuJobs"), s.cpuJobs);
    o.insert(QStringLiteral("batchMemoryBytes"), double(s.batchMemoryBytes));
    o.insert(QStringLiteral("avifQuality"), s.avifQuality);
    o.insert(QStringLiteral("imageMaxDimension"), s.imageMaxDimension);
    o.insert(QStringLiteral("alphaBackground"), s.alphaBackground);
    o.insert(QStringLiteral("videoCodec"), toString(s.videoCodec));
    o.insert(QStringLiteral("videoPreset"), toString(s.videoPreset));
    o.insert(QStringLiteral("videoMaxResolution"), s.videoMaxResolution);
    o.insert(QStringLiteral("videoAudioBitrate"), s.videoAudioBitrate);
    o.insert(QStringLiteral("hardwareEncoding"), s.hardwareEncoding);
    o.insert(QStringLiteral("mp3Bitrate"), s.mp3Bitrate);
    o.insert(QStringLiteral("aacBitrate"), s.aacBitrate);
    o.insert(QStringLiteral("sampleRate"), s.sampleRate);
    o.insert(QStringLiteral("pdfDPI"), s.pdfDPI);
    o.insert(QStringLiteral("pdfCompression"), toString(s.pdfCompression));
    o.insert(QStringLiteral("pageSize"), toString(s.pageSize));
    return o;
}

SettingsSnapshot settingsFromJson(const QJsonObject& o)
{
    SettingsSnapshot s;
    s.saveLocation = enumOr(o.value(QStringLiteral("saveLocation")), s.saveLocation);
    if (o.value(QStringLiteral("outputFolder")).isString())
        s.outputFolder = QUrl(o.value(QStringLiteral("outputFolder")).toString());
    s.fallbackFolder = QUrl(o.value(QStringLiteral("fallbackFolder")).toString(s.fallbackFolder.toString()));
    const QJsonObject suffixes = o.value(QStringLiteral("suffixes")).toObject();
    for (auto it = suffixes.begin(); it != suffixes.end(); ++it)
        s.suffixes.insert(it.key(), it.value().toString());
    s.preserveMetadata = o.value(QStringLiteral("preserveMetadata")).toBool(s.preserveMetadata);
    s.preserveDates = o.value(QStringLiteral("preserveDates")).toBool(s.preserveDates);
    s.jpegQuality = o.value(QStringLiteral("jpegQuality")).toDouble(s.jpegQuality);
    s.heicQuality = o.value(QStringLiteral("heicQuality")).toDouble(s.heicQuality);
    s.webpQuality = o.value(QStringLiteral("webpQuality")).toInt(s.webpQuality);
    s.cpuJobs = o.value(QStringLiteral("cpuJobs")).toInt(s.cpuJobs);
    s.batchMemoryBytes = qint64(o.value(QStringLiteral("batchMemoryBytes")).toDouble(double(s.batchMemoryBytes)));
    s.avifQuality = o.value(QStringLiteral("avifQuality")).toInt(s.avifQuality);
    s.imageMaxDimension = o.value(QStringLiteral("imageMaxDimension")).toInt(s.imageMaxDimension);
    s.alphaBackground = o.value(QStringLiteral("alphaBackground")).toString(s.alphaBackground);
    s.videoCodec = enumOr(o.value(QStringLiteral("videoCodec")), s.videoCodec);
    s.videoPreset = enumOr(o.value(QStringLiteral("videoPreset")), s.videoPreset);
    s.videoMaxResolution = o.value(QStringLiteral("videoMaxResolution")).toInt(s.videoMaxResolution);
    s.videoAudioBitrate = o.value(QStringLiteral("videoAudioBitrate")).toInt(s.videoAudioBitrate);
    s.hardwareEncoding = o.value(QStringLiteral("hardwareEncoding")).toBool(s.hardwareEncoding);
    s.mp3Bitrate = o.value(QStringLiteral("mp3Bitrate")).toInt(s.mp3Bitrate);
    s.aacBitrate = o.value(QStringLiteral("aacBitrate")).toInt(s.aacBitrate);
    s.sampleRate = o.value(QStringLiteral("sampleRate")).toInt(s.sampleRate);
    s.pdfDPI = o.value(QStringLiteral("pdfDPI")).toDouble(s.pdfDPI);
    s.pdfCompression = enumOr(o.value(QStringLiteral("pdfCompression")), s.pdfCompression);
    s.pageSize = enumOr(o.value(QStringLiteral("pageSize")), s.pageSize);
    return s;
}

FileInfo fileInfoFromJson(const QJsonObject& o)
{
    FileInfo f;
    f.url = QUrl(o.value(QStringLiteral("url")).toString());
    f.name = o.value(QStringLiteral("name")).toString();
    f.baseName = o.value(QStringLiteral("baseName")).toString();
    f.ext = o.value(QStringLiteral("ext")).toString();
    const QString formatId = o.value(QStringLiteral("format")).toString();
    for (const FileFormat& format : formatCatalogue()) {
        if (!formatId.isEmpty() && format.id == formatId) {
            f.format = format;
            break;
        }
    }
    f.category = enumOr(o.value(QStringLiteral("category")), FileCategory::other);
    f.isDirectory = o.value(QStringLiteral("isDirectory")).toBool();
    f.size = qint64(o.value(QStringLiteral("size")).toDouble());
    if (o.value(QStringLiteral("contentType")).isString())
        f.contentType = o.value(QStringLiteral("contentType")).toString();
    f.isPromise = o.value(QStringLiteral("isPromise")).toBool();
    f.frameCount = o.value(QStringLiteral("frameCount")).toInt(1);
    f.isEncrypted = o.value(QStringLiteral("isEncrypted")).toBool();
    if (o.value(QStringLiteral("hasAudio")).isBool())
        f.hasAudio = o.value(QStringLiteral("hasAudio")).toBool();
    if (o.value(QStringLiteral("mediaDescription")).isString())
        f.mediaDescription = o.value(QStringLiteral("mediaDescription")).toString();
    return f;
}

namespace {

QString identityOf(const struct stat& status)
{
    return QString::number(quint64(status.st_dev)) + QLatin1Char(':') + QString::number(quint64(status.st_ino));
}

} // namespace

QString fileIdentity(const QString& path)
{
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? identityOf(status) : QString();
}

QString fileIdentity(int fd)
{
    struct stat status {};
    return ::fstat(fd, &status) == 0 ? identityOf(status) : QString();
}

QString replacedMessage()
{
    return QStringLiteral("This file was replaced after it was chosen, so it was not read");
}

QStringList writableFolders(const RunRequest& request)
{
    const QString clean = QDir::cleanPath(request.workFolder);
    // Never the whole disk, nor a folder that is not there.
    if (request.workFolder.isEmpty() || clean == QLatin1String("/") || !QFileInfo(clean).isDir())
        return {};
    return {clean};
}

namespace {

// Every file or folder the value names by its full path, as it lies.
void collectPaths(const QJsonValue& value, QStringList& paths)
{
    if (value.isString()) {
        QString text = value.toString();
        if (text.startsWith(QLatin1String("file:///")))
            text = QUrl(text).toLocalFile();
        // A line feed is as good a byte of a name as any other.
        if (text.startsWith(QLatin1Char('/'))) {
            const QFileInfo info(QDir::cleanPath(text));
            if (info.exists())
                paths.append(info.absoluteFilePath());
        }
    } else if (value.isArray()) {
        for (const QJsonValue& item : value.toArray())
            collectPaths(item, paths);
    } else if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            collectPaths(it.value(), paths);
    }
}

QStringList foldersOf(const QStringList& paths)
{
    QStringList folders;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        folders.append(info.isDir() ? info.absoluteFilePath() : info.absolutePath());
    }
    return folders;
}

QStringList tidied(QStringList folders)
{
    folders.removeAll(QString());
    folders.removeDuplicates();
    folders.sort();
    return folders;
}

} // namespace

QStringList namedPaths(const RunRequest& request)
{
    QStringList paths;
    for (const FileInfo& file : request.files)
        collectPaths(QJsonValue(file.path()), paths);
    collectPaths(QJsonDocument::fromJson(request.options).object(), paths);
    return tidied(paths);
}

QStringList namedPaths(const QJsonObject& callArguments)
{
    QStringList paths;
    collectPaths(callArguments, paths);
    return tidied(paths);
}

QStringList readableFolders(const RunRequest& request)
{
    return tidied(foldersOf(namedPaths(request)));
}

QStringList readableFolders(const QJsonObject& callArguments)
{
    return tidied(foldersOf(namedPaths(callArguments)));
}

QJsonObject runMessage(const RunRequest& request)
{
    QJsonArray files;
    for (const FileInfo& file : request.files)
    {
        QJsonObject described = file.toJson();
        if (file.mediaDescription)
            described.insert(QStringLiteral("mediaDescription"), *file.mediaDescription);
        files.append(described);
    }
    QJsonObject o;
    o.insert(QStringLiteral("type"), type("run"));
    o.insert(QStringLiteral("operation"), request.operationId);
    o.insert(QStringLiteral("files"), files);
    o.insert(QStringLiteral("options"), QString::fromUtf8(request.options));
    o.insert(QStringLiteral("settings"), settingsToJson(request.settings));
    o.insert(QStringLiteral("memoryLimit"), double(request.memoryLimitBytes));
    o.insert(QStringLiteral("cpuSeconds"), double(request.cpuSeconds));
    o.insert(QStringLiteral("workFolder"), request.workFolder);
    o.insert(QStringLiteral("identities"), QJsonArray::fromStringList(request.identities));
    QJsonArray held;
    for (qsizetype i = 0; i < request.descriptors.size() && i < request.files.size(); ++i) {
        if (request.descriptors[i] >= 0)
            held.append(double(i));
    }
    if (!held.isEmpty())
        o.insert(QStringLiteral("held"), held);
    return o;
}

std::optional<RunRequest> runRequest(const QJsonObject& message)
{
    if (message.value(QStringLiteral("type")).toString() != QLatin1String("run"))
        return std::nullopt;
    RunRequest request;
    request.operationId = message.value(QStringLiteral("operation")).toString();
    for (const QJsonValue& file : message.value(QStringLiteral("files")).toArray())
        request.files.append(fileInfoFromJson(file.toObject()));
    request.options = message.value(QStringLiteral("options")).toString().toUtf8();
    request.settings = settingsFromJson(message.value(QStringLiteral("settings")).toObject());
    request.memoryLimitBytes = qint64(message.value(QStringLiteral("memoryLimit")).toDouble());
    request.cpuSeconds = qint64(message.value(QStringLiteral("cpuSeconds")).toDouble());
    request.workFolder = message.value(QStringLiteral("workFolder")).toString();
    for (const QJsonValue& identity : message.value(QStringLiteral("identities")).toArray())
        request.identities.append(identity.toString());
    const QJsonArray held = message.value(QStringLiteral("held")).toArray();
    if (!held.isEmpty()) {
        request.descriptors = QList<int>(request.files.size(), -1);
        for (const QJsonValue& index : held) {
            const qsizetype at = qsizetype(index.toDouble(-1));
            if (at < 0 || at >= request.files.size() || request.descriptors[at] != -1)
                return std::nullopt;
            request.descriptors[at] = awaitedDescriptor;
        }
    }
    return request;
}

QJsonObject callMessage(const QString& name, const QJsonObject& arguments, qint64 memoryLimitBytes)
{
    return {{QStringLiteral("type"), type("call")},
            {QStringLiteral("name"), name},
            {QStringLiteral("arguments"), arguments},
            {QStringLiteral("memoryLimit"), double(memoryLimitBytes)}};
}

QJsonObject answerMessage(const QJsonObject& result)
{
    return {{QStringLiteral("type"), type("answer")}, {QStringLiteral("result"), result}};
}

QJsonObject pingMessage()
{
    return {{QStringLiteral("type"), type("ping")}};
}

namespace {

constexpr const char* picturePrefix = "picture-";

} // namespace

QJsonObject pictureToJson(const QImage& picture, const QString& folder)
{
    const QImage pixels = picture.format() == QImage::Format_ARGB32_Premultiplied
        ? picture
        : picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QString path = folder + QLatin1Char('/') + QLatin1String(picturePrefix)
        + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        throw SystemError::fromErrno(EIO, QStringLiteral("Cannot write %1").arg(path));
    const qint64 size = qint64(pixels.bytesPerLine()) * pixels.height();
    if (file.write(reinterpret_cast<const char*>(pixels.constBits()), size) != size || !file.flush()) {
        file.remove();
        throw SystemError::fromErrno(ENOSPC, QStringLiteral("Cannot write %1").arg(path));
    }
    file.close();
    return {{QStringLiteral("path"), path},
            {QStringLiteral("width"), pixels.width()},
            {QStringLiteral("height"), pixels.height()},
            {QStringLiteral("bytesPerLine"), double(pixels.bytesPerLine())},
            {QStringLiteral("dpmX"), pixels.dotsPerMeterX()},
            {QStringLiteral("dpmY"), pixels.dotsPerMeterY()}};
}

std::optional<QImage> pictureFromJson(const QJsonValue& value)
{
    const QJsonObject o = value.toObject();
    const QString path = o.value(QStringLiteral("path")).toString();
    if (path.isEmpty() || !QFileInfo(path).fileName().startsWith(QLatin1String(picturePrefix))
        || !TemporaryRoot::contains(path))
        return std::nullopt;
    QFile file(path);
    const auto removeFile = qScopeGuard([&file] { file.remove(); });
    const qint64 width = o.value(QStringLiteral("width")).toInteger();
    const qint64 height = o.value(QStringLiteral("height")).toInteger();
    const qint64 bytesPerLine = o.value(QStringLiteral("bytesPerLine")).toInteger();
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535 || bytesPerLine < width * 4
        || bytesPerLine > width * 4 + 64 || !file.open(QIODevice::ReadOnly)
        || file.size() != bytesPerLine * height)
        return std::nullopt;
    QImage picture(int(width), int(height), QImage::Format_ARGB32_Premultiplied);
    if (picture.isNull())
        return std::nullopt;
    for (int y = 0; y < picture.height(); ++y) {
        const QByteArray line = file.read(bytesPerLine);
        if (line.size() != bytesPerLine)
            return std::nullopt;
        std::memcpy(picture.scanLine(y), line.constData(), std::size_t(width) * 4);
    }
    picture.setDotsPerMeterX(o.value(QStringLiteral("dpmX")).toInt());
    picture.setDotsPerMeterY(o.value(QStringLiteral("dpmY")).toInt());
    return picture;
}

QJsonObject progressMessage(double fraction)
{
    return {{QStringLiteral("type"), type("progress")}, {QStringLiteral("fraction"), fraction}};
}

QJsonObject workMessage(const QString& path)
{
    return {{QStringLiteral("type"), type("work")}, {QStringLiteral("path"), path}};
}

QJsonObject placedMessage(const QString& path)
{
    return {{QStringLiteral("type"), type("placed")}, {QStringLiteral("path"), path}};
}

QJsonObject doneMessage(const QStringList& outputs, const QStringList& messages,
                        const std::optional<QString>& clipboard, const QList<StagedResult>& staged)
{
    QJsonArray results;
    for (const StagedResult& result : staged) {
        QJsonObject o{{QStringLiteral("path"), result.path},
                      {QStringLiteral("baseName"), result.baseName},
                      {QStringLiteral("extension"), result.extension}};
        if (result.entries)
            o.insert(QStringLiteral("entries"), double(*result.entries));
        results.append(o);
    }
    return {{QStringLiteral("type"), type("done")},
            {QStringLiteral("outputs"), stringArray(outputs)},
            {QStringLiteral("staged"), results},
            {QStringLiteral("messages"), stringArray(messages)},
            {QStringLiteral("clipboard"), clipboard ? QJsonValue(*clipboard) : QJsonValue()}};
}

QList<StagedResult> stagedResults(const QJsonObject& done)
{
    QList<StagedResult> results;
    for (const QJsonValue& value : done.value(QStringLiteral("staged")).toArray()) {
        const QJsonObject o = value.toObject();
        // A count that is no count bounds the folder to nothing.
        std::optional<qint64> entries;
        if (o.contains(QStringLiteral("entries"))) {
            const double count = o.value(QStringLiteral("entries")).toDouble(-1);
            entries = count >= 0 && count < 9e15 && count == std::floor(count) ? qint64(count) : 0;
        }
        results.append({o.value(QStringLiteral("path")).toString(), o.value(QStringLiteral("baseName")).toString(),
                        o.value(QStringLiteral("extension")).toString(), entries});
    }
    return results;
}

QJsonObject failedMessage(const QString& message, const QString& details, bool cancelled,
                          const QStringList& messages)
{
    return {{QStringLiteral("type"), type("failed")},
            {QStringLiteral("message"), message},
            {QStringLiteral("details"), details},
            {QStringLiteral("cancelled"), cancelled},
            {QStringLiteral("messages"), stringArray(messages)}};
}

namespace {

// The most one message carries (the kernel's SCM_MAX_FD is 253).
constexpr int descriptorsPerMessage = 250;

} // namespace

bool sendDescriptors(int socket, const QList<int>& fds)
{
    QList<int> open;
    for (const int fd : fds) {
        if (fd >= 0)
            open.append(fd);
    }
    for (qsizetype from = 0; from < open.size(); from += descriptorsPerMessage) {
        const qsizetype count = std::min<qsizetype>(descriptorsPerMessage, open.size() - from);
        char byte = char(count);
        iovec data{&byte, 1};
        std::vector<char> control(CMSG_SPACE(sizeof(int) * std::size_t(count)), 0);
        msghdr header{};
        header.msg_iov = &data;
        header.msg_iovlen = 1;
        header.msg_control = control.data();
        header.msg_controllen = control.size();
        cmsghdr* rights = CMSG_FIRSTHDR(&header);
        rights->cmsg_level = SOL_SOCKET;
        rights->cmsg_type = SCM_RIGHTS;
        rights->cmsg_len = CMSG_LEN(sizeof(int) * std::size_t(count));
        std::memcpy(CMSG_DATA(rights), open.constData() + from, sizeof(int) * std::size_t(count));
        ssize_t sent;
        do {
            sent = ::sendmsg(socket, &header, MSG_NOSIGNAL);
        } while (sent < 0 && errno == EINTR);
        if (sent != 1)
            return false;
    }
    return true;
}

bool receiveDescriptors(int socket, QList<int>& descriptors)
{
    const qsizetype awaited = std::count(descriptors.begin(), descriptors.end(), awaitedDescriptor);
    QList<int> received;
    bool whole = true;
    while (whole && received.size() < awaited) {
        char byte = 0;
        iovec data{&byte, 1};
        std::vector<char> control(CMSG_SPACE(sizeof(int) * descriptorsPerMessage), 0);
        msghdr header{};
        header.msg_iov = &data;
        header.msg_iovlen = 1;
        header.msg_control = control.data();
        header.msg_controllen = control.size();
        ssize_t got;
        do {
            got = socket < 0 ? -1 : ::recvmsg(socket, &header, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
        } while (got < 0 && errno == EINTR);
        if (got != 1)
            break;
        for (cmsghdr* part = CMSG_FIRSTHDR(&header); part; part = CMSG_NXTHDR(&header, part)) {
            if (part->cmsg_level != SOL_SOCKET || part->cmsg_type != SCM_RIGHTS)
                continue;
            const std::size_t count = (part->cmsg_len - CMSG_LEN(0)) / sizeof(int);
            for (std::size_t i = 0; i < count; ++i) {
                int fd = -1;
                std::memcpy(&fd, CMSG_DATA(part) + i * sizeof(int), sizeof fd);
                received.append(fd);
            }
        }
        // Cut short: the rest of what was sent is lost, and so is the item.
        if (header.msg_flags & MSG_CTRUNC)
            whole = false;
    }
    if (!whole || received.size() != awaited) {
        closeDescriptors(received);
        for (int& fd : descriptors) {
            if (fd == awaitedDescriptor)
                fd = -1;
        }
        return false;
    }
    qsizetype next = 0;
    for (int& fd : descriptors) {
        if (fd == awaitedDescriptor)
            fd = received[next++];
    }
    return true;
}

void closeDescriptors(QList<int>& descriptors)
{
    for (int& fd : descriptors) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

bool writeFrame(int fd, const QJsonObject& message)
{
    const QByteArray body = QJsonDocument(message).toJson(QJsonDocument::Compact);
    if (body.size() > frameLimit)
        return false;
    const quint32 size = quint32(body.size());
    QByteArray frame;
    frame.reserve(body.size() + 4);
    frame.append(char(size >> 24)).append(char(size >> 16)).append(char(size >> 8)).append(char(size));
    frame.append(body);
    const char* data = frame.constData();
    qsizetype left = frame.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, std::size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        left -= written;
    }
    return true;
}

std::optional<QJsonObject> FrameReader::next()
{
    if (m_broken || m_buffer.size() < 4)
        return std::nullopt;
    const auto byte = [this](int i) { return quint32(quint8(m_buffer[i])); };
    const quint32 size = byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
    if (size > frameLimit) {
        m_broken = true;
        return std::nullopt;
    }
    if (m_buffer.size() < qsizetype(size) + 4)
        return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(m_buffer.mid(4, size), &error);
    m_buffer.remove(0, qsizetype(size) + 4);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        m_broken = true;
        return std::nullopt;
    }
    return document.object();
}

std::optional<QJsonObject> readFrame(int fd, FrameReader& reader)
{
    char chunk[65536];
    for (;;) {
        if (std::optional<QJsonObject> message = reader.next())
            return message;
        if (reader.broken())
            return std::nullopt;
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return std::nullopt;
        reader.append(QByteArray(chunk, qsizetype(got)));
    }
}

} // namespace qv::WorkerProtocol
