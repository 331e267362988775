#pragma once

#include "model/Clock.h"

namespace qv::test {

class FakeClock : public Clock {
public:
    QDateTime now() const override { return m_now; }
    void advance(qint64 ms) { m_now = m_now.addMSecs(ms); }
    void set(const QDateTime& time) { m_now = time; }

private:
    QDateTime m_now = QDateTime(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC);
};

} // namespace qv::test
