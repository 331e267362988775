#pragma once

#include "platform/feedback/DesktopNotifications.h"

namespace qv::test {

// Records what is posted instead of showing it; click() plays a click on a notification.
class FakeDesktopNotifications : public DesktopNotifications {
public:
    QList<Notification> notifications;

    void post(const Notification& notification) override { notifications.append(notification); }

    void click(int index, const QString& action) { Q_EMIT actionInvoked(action, notifications.at(index).payload); }
};

} // namespace qv::test
