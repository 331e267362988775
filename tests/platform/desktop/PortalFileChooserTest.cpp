// Files and folders are chosen in the desktop's own dialog through the FileChooser portal: a
// stand-in portal on a private bus answers as xdg-desktop-portal does, with the request's path
// at once and the user's choice later as that path's Response signal.

#include "platform/desktop/PortalFileChooser.h"
#include "support/FakeFileChooserPortal.h"
#include "support/LogCapture.h"
#include "support/PrivateBusTest.h"
#include "support/RealPortal.h"
#include "support/WaitFor.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QMutex>
#include <QThread>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>

using namespace qv;
using namespace qv::test;

namespace {

// The desktop's side of the real portal (xdg-desktop-portal): the FileChooser backend a desktop
// installs, answering in the method reply with the options it was handed.
class FakeChooserBackend : public QDBusVirtualObject {
public:
    QList<QVariantMap> calls() const
    {
        QMutexLocker lock(&m_mutex);
        return m_calls;
    }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.interface() != QLatin1String("org.freedesktop.impl.portal.FileChooser"))
            return false;
        // (o handle, s app_id, s parent_window, s title, a{sv} options)
        const QList<QVariant> args = message.arguments();
        QVariantMap call = qdbus_cast<QVariantMap>(args.value(4));
        call.insert(QStringLiteral("method"), message.member());
        call.insert(QStringLiteral("title"), args.value(3));
        {
            QMutexLocker lock(&m_mutex);
            m_calls.append(call);
        }
        QVariantMap results;
        results.insert(QStringLiteral("uris"), QStringList{QStringLiteral("file:///srv/chosen")});
        connection.send(message.createReply({uint(0), results}));
        return true;
    }

private:
    mutable QMutex m_mutex;
    QList<QVariantMap> m_calls;
};

} // namespace

TEST_F(FileChooserPortalTest, AFolderIsChosenInThePortalsDialogWithTheTitleLabelAndStartFolder)
{
    startPortal();
    portal->answerWith(0, {QStringLiteral("file:///home/u/Photos%20old")});
    const PortalFileChooser chooser(connection(QStringLiteral("app")));
    ASSERT_TRUE(chooser.isAvailable());
    PortalFileChooser::Request request;
    request.title = QStringLiteral("Move “a.txt” to:");
    request.acceptLabel = QStringLiteral("Move Here");
    request.startFolder = QStringLiteral("/home/u");
    request.folders = true;
    request.parentWindow = QStringLiteral("x11:1a00003");
    std::optional<PortalFileChooser::Answer> answer;
    chooser.choose(request, [&](const PortalFileChooser::Answer& given) { answer = given; });
    ASSERT_TRUE(waitFor([&] { return answer.has_value(); }));
    ASSERT_TRUE(answer->has_value());
    EXPECT_EQ(**answer, QStringList{QStringLiteral("/home/u/Photos old")});

    const QList<FakeFileChooser::Call> calls = portal->calls();
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls[0].method, QStringLiteral("OpenFile"));
    EXPECT_EQ(calls[0].parent, QStringLiteral("x11:1a00003"));
    EXPECT_EQ(calls[0].title, QStringLiteral("Move “a.txt” to:"));
    EXPECT_EQ(calls[0].options.value(QStringLiteral("accept_label")).toString(), QStringLiteral("Move Here"));
    EXPECT_TRUE(calls[0].options.value(QStringLiteral("directory")).toBool());
    EXPECT_TRUE(calls[0].options.value(QStringLiteral("modal")).toBool());
    // The folder's bytes with the NUL the portal expects.
    EXPECT_EQ(calls[0].options.value(QStringLiteral("current_folder")).toByteArray(), QByteArray("/home/u\0", 8));
}

TEST_F(FileChooserPortalTest, FiltersAndSavingReachThePortalAndOnlyLocalFilesComeBack)
{
    startPortal();
    portal->answerWith(0, {QStringLiteral("https://example.org/a.json"), QStringLiteral("file:///tmp/s.json")});
    const PortalFileChooser chooser(connection(QStringLiteral("app")));
    PortalFileChooser::Request request;
    request.title = QStringLiteral("Export Settings");
    request.startFolder = QStringLiteral("/tmp");
    request.saveName = QStringLiteral("Quorvenda Settings.json");
    request.filters = {{QStringLiteral("JSON"), {QStringLiteral("*.json")}},
                       {QStringLiteral("Programs"), {QStringLiteral("*"), QStringLiteral("*.sh")}}};
    const PortalFileChooser::Answer answer = chooser.chooseAndWait(request);
    ASSERT_TRUE(answer);
    EXPECT_EQ(*answer, QStringList{QStringLiteral("/tmp/s.json")});
    const QList<FakeFileChooser::Call> calls = portal->calls();
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls[0].method, QStringLiteral("SaveFile"));
    EXPECT_EQ(calls[0].options.value(QStringLiteral("current_name")).toString(), QStringLiteral("Quorvenda Settings.json"));
    EXPECT_FALSE(calls[0].options.contains(QStringLiteral("directory")));
    EXPECT_EQ(calls[0].filters, QStringLiteral("JSON:*.json;Programs:*,*.sh"));
}

TEST_F(FileChooserPortalTest, ACancelAnswersNothingChosenAndAFailureAsksForQtsDialog)
{
    startPortal();
    const PortalFileChooser chooser(connection(QStringLiteral("app")));
    PortalFileChooser::Request request;
    request.folders = true;
    portal->answerWith(1, {});
    PortalFileChooser::Answer answer = chooser.chooseAndWait(request);
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->isEmpty());
    portal->answerWith(2, {});
    answer = chooser.chooseAndWait(request);
    EXPECT_FALSE(answer);
}

TEST_F(FileChooserPortalTest, WithoutAPortalItIsNotAvailableAndAskingAnswersAtOnce)
{
    LogCapture log;
    const PortalFileChooser chooser(connection(QStringLiteral("app")));
    EXPECT_FALSE(chooser.isAvailable());
    const QList<LogCapture::Line> lines = log.lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const LogCapture::Line& line) {
        return line.message.startsWith(QStringLiteral("No file chooser portal"));
    }));
    PortalFileChooser::Request request;
    EXPECT_FALSE(chooser.chooseAndWait(request));
}

// Through xdg-desktop-portal itself, which checks each option's type and passes on only those it
// knows, to a desktop backend of the test's own.
TEST_F(FileChooserPortalTest, ThroughTheRealPortalToADesktopBackend)
{
    if (!RealPortal::isInstalled())
        GTEST_SKIP() << "xdg-desktop-portal is not installed";
    auto* backend = new FakeChooserBackend;
    backend->moveToThread(&thread);
    ASSERT_TRUE(portalBus.registerVirtualObject(FakeFileChooser::path, backend));
    ASSERT_TRUE(portalBus.registerService(RealPortal::backendName));
    RealPortal portal;
    QDBusConnection app = connection(QStringLiteral("app"));
    ASSERT_TRUE(portal.start(address, {QStringLiteral("org.freedesktop.impl.portal.FileChooser")}, app))
        << portal.output();

    const PortalFileChooser chooser(app);
    ASSERT_TRUE(chooser.isAvailable()) << portal.output();
    PortalFileChooser::Request folder;
    folder.title = QStringLiteral("Move “a.txt” to:");
    folder.acceptLabel = QStringLiteral("Move Here");
    folder.startFolder = QStringLiteral("/srv");
    folder.folders = true;
    EXPECT_EQ(chooser.chooseAndWait(folder), PortalFileChooser::Answer(QStringList{QStringLiteral("/srv/chosen")}))
        << portal.output();
    PortalFileChooser::Request save;
    save.title = QStringLiteral("Export Settings");
    save.startFolder = QStringLiteral("/srv");
    save.saveName = QStringLiteral("Quorvenda Settings.json");
    save.filters = {{QStringLiteral("JSON"), {QStringLiteral("*.json")}}};
    EXPECT_EQ(chooser.chooseAndWait(save), PortalFileChooser::Answer(QStringList{QStringLiteral("/srv/chosen")}));

    const QList<QVariantMap> calls = backend->calls();
    ASSERT_EQ(calls.size(), 2);
    EXPECT_EQ(calls[0].value(QStringLiteral("method")).toString(), QStringLiteral("OpenFile"));
    EXPECT_EQ(calls[0].value(QStringLiteral("title")).toString(), QStringLiteral("Move “a.txt” to:"));
    EXPECT_EQ(calls[0].value(QStringLiteral("accept_label")).toString(), QStringLiteral("Move Here"));
    EXPECT_TRUE(calls[0].value(QStringLiteral("directory")).toBool());
    // A portal before 1.17 (Debian 12's) knows no start folder for OpenFile and drops it.
    if (calls[0].contains(QStringLiteral("current_folder"))) {
        EXPECT_EQ(calls[0].value(QStringLiteral("current_folder")).toByteArray(), QByteArray("/srv\0", 5));
    }
    EXPECT_EQ(calls[1].value(QStringLiteral("method")).toString(), QStringLiteral("SaveFile"));
    EXPECT_EQ(calls[1].value(QStringLiteral("current_name")).toString(), QStringLiteral("Quorvenda Settings.json"));
    EXPECT_EQ(calls[1].value(QStringLiteral("current_folder")).toByteArray(), QByteArray("/srv\0", 5));
    EXPECT_TRUE(calls[1].contains(QStringLiteral("filters")));

    portal.stop();
    portalBus.unregisterObject(FakeFileChooser::path);
    QMetaObject::invokeMethod(backend, [backend] { delete backend; }, Qt::BlockingQueuedConnection);
}
