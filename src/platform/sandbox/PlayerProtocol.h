#pragma once

#include <QJsonObject>
#include <QSize>
#include <QString>
#include <QUrl>

namespace qv {

// The messages between the application and a player process, framed as the worker's are
// (WorkerProtocol::writeFrame). The application opens one file with "open" and then sends
// "play", "pause", "stop", "seek", "rate", "volume", "loop", "size" and "free"; the player
// answers "loaded", "duration", "position", "state", "seeked", "frame" and "failed". Every
// answer carries "seen", the number of commands the player had taken when it sent it, so the
// application can tell an answer to its latest command from one already on its way.
// Pictures travel in a FrameRing; a "frame" names its slot, which the application frees.
namespace PlayerProtocol {

struct OpenRequest {
    QUrl source;
    int slots = 0;
    qint64 slotBytes = 0;
    QSize box; // the pixels the view shows a picture in; empty: no pictures
    qint64 memoryLimitBytes = 0;
};

QJsonObject openMessage(const OpenRequest& request);
OpenRequest openRequest(const QJsonObject& message);

QJsonObject command(const QString& type, const QJsonObject& fields = {});

QString type(const QJsonObject& message);

// Milliseconds on the wire, seconds in the classes.
inline qint64 toMs(double seconds) { return qint64(seconds * 1000.0 + (seconds < 0 ? -0.5 : 0.5)); }
inline double fromMs(const QJsonValue& value) { return value.toDouble() / 1000.0; }

} // namespace PlayerProtocol

} // namespace qv
