#pragma once

#include <QDBusConnection>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace qv {

// The desktop's own dialog for choosing files and folders, through the FileChooser portal
// (org.freedesktop.portal.FileChooser): GNOME's, KDE's or whatever backend the session's
// xdg-desktop-portal runs.
class PortalFileChooser {
public:
    struct Filter {
        QString name;
        QStringList patterns; // globs such as "*.json"

        bool operator==(const Filter&) const = default;
    };

    struct Request {
        QString title;
        QString acceptLabel;
        QString startFolder;
        bool folders = false;
        // A new file's name in startFolder: the dialog saves instead of opening.
        QString saveName;
        QList<Filter> filters;
        // The window the dialog belongs to, as the portal names it ("x11:1a00003"); may be empty.
        QString parentWindow;
    };

    // What came back: the paths chosen, none when the user cancelled; nothing when the portal
    // could not show its dialog, so the caller shows one of its own.
    using Answer = std::optional<QStringList>;

    explicit PortalFileChooser(QDBusConnection bus = QDBusConnection::sessionBus());

    // A portal with a file chooser runs on the bus, or starts when asked; waits a few seconds
    // at most.
    bool isAvailable() const;

    // Shows the dialog and returns at once; done is called on this thread with the answer.
    void choose(const Request& request, std::function<void(const Answer&)> done) const;

    // Shows the dialog and waits for the answer, running the event loop meanwhile.
    Answer chooseAndWait(const Request& request) const;

    // The window handle the portal expects for a window of this process, or empty where
    // there is none it can use.
    static QString parentWindowFor(quintptr nativeWindow);

private:
    QDBusConnection m_bus;
};

} // namespace qv
