// Files and folders are chosen in the desktop's own dialog through the FileChooser portal: a
// stand-in portal on a private bus answers as xdg-desktop-portal does, with the request's path
// at once and the user's choice later as that path's Response signal.

#include "platform/PortalFileChooser.h"
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

const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kChooserInterface = QStringLiteral("org.freedesktop.portal.FileChooser");

// The stand-in: records each call, then answers with the response and URIs it was given.
class FakeFileChooser : public QDBusVirtualObject {
public:
    struct Call {
        QString method;
        QString parent;
        QString title;
        QVariantMap options;
        QString filters; // "name:pattern,pattern;..."
    };

    void answerWith(uint response, QStringList uris)
    {
        QMutexLocker lock(&m_mutex);
        m_response = response;
        m_uris = std::move(uris);
    }
    QList<Call> calls() const
    {
        QMutexLocker lock(&m_mutex);
        return m_calls;
    }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        const QString member = message.member();
        const QList<QVariant> args = message.arguments();
        if (message.interface() == QLatin1String("org.freedesktop.DBus.Properties")) {
            if (member != QLatin1String("Get") || args.value(0).toString() != kChooserInterface)
                return false;
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(uint(4)))));
            return true;
        }
        if (message.interface() != kChooserInterface)
            return false;
        Call call{member, args.value(0).toString(), args.value(1).toString(),
                  qdbus_cast<QVariantMap>(args.value(2)), {}};
        const QVariant filters = call.options.value(QStringLiteral("filters"));
        if (filters.userType() == qMetaTypeId<QDBusArgument>()) {
            const QDBusArgument list = filters.value<QDBusArgument>();
            QStringList entries;
            list.beginArray();
            while (!list.atEnd()) {
                QString name;
                QStringList patterns;
                list.beginStructure();
                list >> name;
                list.beginArray();
                while (!list.atEnd()) {
                    uint kind = 0;
                    QString pattern;
                    list.beginStructure();
                    list >> kind >> pattern;
                    list.endStructure();
                    patterns.append(pattern);
                }
                list.endArray();
                list.endStructure();
                entries.append(name + QLatin1Char(':') + patterns.join(QLatin1Char(',')));
            }
            list.endArray();
            call.filters = entries.join(QLatin1Char(';'));
        }
        uint response = 0;
        QStringList uris;
        {
            QMutexLocker lock(&m_mutex);
            m_calls.append(call);
            response = m_response;
            uris = m_uris;
        }
        QString sender = message.service().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        const QString request = kPortalPath + QStringLiteral("/request/%1/%2")
                                                  .arg(sender, call.options.value(QStringLiteral("handle_token")).toString());
        connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        QVariantMap results;
        results.insert(QStringLiteral("uris"), uris);
        QDBusMessage answer = QDBusMessage::createTargetedSignal(
            message.service(), request, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        answer << response << results;
        connection.send(answer);
        return true;
    }

private:
    mutable QMutex m_mutex;
    QList<Call> m_calls;
    uint m_response = 0;
    QStringList m_uris;
};

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

class PortalFileChooserTest : public PrivateBusTest {
protected:
    void SetUp() override
    {
        PrivateBusTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        thread.start();
        portalBus = connection(QStringLiteral("portal"));
        ASSERT_TRUE(portalBus.isConnected());
    }
    void TearDown() override
    {
        if (portal) {
            portalBus.unregisterObject(kPortalPath);
            QMetaObject::invokeMethod(portal, [this] { delete portal; }, Qt::BlockingQueuedConnection);
        }
        thread.quit();
        thread.wait();
        PrivateBusTest::TearDown();
    }

    void startPortal()
    {
        portal = new FakeFileChooser;
        portal->moveToThread(&thread);
        ASSERT_TRUE(portalBus.registerVirtualObject(kPortalPath, portal));
        ASSERT_TRUE(portalBus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
    }

    QThread thread;
    QDBusConnection portalBus{QString()};
    FakeFileChooser* portal = nullptr;
};

} // namespace

TEST_F(PortalFileChooserTest, AFolderIsChosenInThePortalsDialogWithTheTitleLabelAndStartFolder)
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

TEST_F(PortalFileChooserTest, FiltersAndSavingReachThePortalAndOnlyLocalFilesComeBack)
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

TEST_F(PortalFileChooserTest, ACancelAnswersNothingChosenAndAFailureAsksForQtsDialog)
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

TEST_F(PortalFileChooserTest, WithoutAPortalItIsNotAvailableAndAskingAnswersAtOnce)
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
TEST_F(PortalFileChooserTest, ThroughTheRealPortalToADesktopBackend)
{
    if (!RealPortal::isInstalled())
        GTEST_SKIP() << "xdg-desktop-portal is not installed";
    auto* backend = new FakeChooserBackend;
    backend->moveToThread(&thread);
    ASSERT_TRUE(portalBus.registerVirtualObject(kPortalPath, backend));
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
    if (calls[0].contains(QStringLiteral("current_folder")))
        EXPECT_EQ(calls[0].value(QStringLiteral("current_folder")).toByteArray(), QByteArray("/srv\0", 5));
    EXPECT_EQ(calls[1].value(QStringLiteral("method")).toString(), QStringLiteral("SaveFile"));
    EXPECT_EQ(calls[1].value(QStringLiteral("current_name")).toString(), QStringLiteral("Quorvenda Settings.json"));
    EXPECT_EQ(calls[1].value(QStringLiteral("current_folder")).toByteArray(), QByteArray("/srv\0", 5));
    EXPECT_TRUE(calls[1].contains(QStringLiteral("filters")));

    portal.stop();
    portalBus.unregisterObject(kPortalPath);
    QMetaObject::invokeMethod(backend, [backend] { delete backend; }, Qt::BlockingQueuedConnection);
}
