#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>

namespace qv {

// One Quorvenda per session: the first process owns "org.quorvenda.Quorvenda" on the session
// bus, and every later one hands its files to it and ends. File managers' "Open With" and
// context-menu entries reach the running process this way.
class SingleInstance : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.quorvenda.Quorvenda")

public:
    static const QString serviceName; // "org.quorvenda.Quorvenda"
    static const QString objectPath;  // "/org/quorvenda/Quorvenda"
    static const QString noFilesError; // "No files were passed to Quorvenda."

    explicit SingleInstance(const QDBusConnection& connection = QDBusConnection::sessionBus(),
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the name; false when another process holds it (or there is no bus), and then
    // this one should forward its files.
    bool registerPrimary();
    bool isPrimary() const { return m_primary; }

    // Hands the files to the running instance; false when none answers or it refuses them.
    // The refusal's text goes to error when given.
    static bool forwardToRunning(const QList<QUrl>& urls, QString* error = nullptr,
                                 const QDBusConnection& connection = QDBusConnection::sessionBus());

    // Asks the running instance to show itself (its settings window); false when none answers.
    static bool reopenRunning(const QDBusConnection& connection = QDBusConnection::sessionBus());

    // Asks the running instance to convert the copied files, as its hot key does; false when
    // none answers.
    static bool convertCopiedInRunning(const QDBusConnection& connection = QDBusConnection::sessionBus());

    // The file URLs among paths and URLs, in order; relative paths name nothing.
    static QList<QUrl> fileUrls(const QStringList& pathsOrUrls);

public Q_SLOTS:
    // The bus method: absolute paths or file URLs. Answers the error "No files were passed to
    // Quorvenda." when none of them names a local file.
    Q_SCRIPTABLE void OpenFiles(const QStringList& pathsOrUrls);
    // The bus method of a start without files.
    Q_SCRIPTABLE void Reopen();
    // The bus method of "quorvenda --convert-copied", which users bind to a key of their own
    // where the desktop offers no global shortcut to applications.
    Q_SCRIPTABLE void ConvertCopied();

Q_SIGNALS:
    // Files handed over by another process: the convert wheel opens for them at the pointer.
    void filesReceived(const QList<QUrl>& urls);
    // Quorvenda was started again without files.
    void reopenRequested();
    // "quorvenda --convert-copied" was run.
    void convertCopiedRequested();

private:
    QDBusConnection m_connection;
    bool m_primary = false;
};

} // namespace qv
