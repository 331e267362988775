#pragma once

#include "support/PrivateBusTest.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QMutex>
#include <QThread>

#include <gtest/gtest.h>

namespace qv::test {

// A FileChooser portal that answers as xdg-desktop-portal does: the request's path at once and
// the user's choice later, as that path's Response signal.
class FakeFileChooser : public QDBusVirtualObject {
public:
    static inline const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
    static inline const QString interfaceName = QStringLiteral("org.freedesktop.portal.FileChooser");

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
            if (member != QLatin1String("Get") || args.value(0).toString() != interfaceName)
                return false;
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(uint(4)))));
            return true;
        }
        if (message.interface() != interfaceName)
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
        const QString request = path + QStringLiteral("/request/%1/%2")
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

// A private bus with the stand-in portal in a thread of its own (the choosers wait for its
// answers); startPortal() puts it on the bus.
class FileChooserPortalTest : public PrivateBusTest {
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
            portalBus.unregisterObject(FakeFileChooser::path);
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
        ASSERT_TRUE(portalBus.registerVirtualObject(FakeFileChooser::path, portal));
        ASSERT_TRUE(portalBus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
    }

    QThread thread;
    QDBusConnection portalBus{QString()};
    FakeFileChooser* portal = nullptr;
};


} // namespace qv::test
