#pragma once

#include <QHashFunctions>
#include <QString>

#include <array>

namespace qv {

// Makes equal short texts share one copy, so a sheet of many equal cells costs little more
// than its grid: a small cache of recent texts, one slot per hash, the newer text winning.
class TextInterner {
public:
    void intern(QString& text)
    {
        if (text.size() > maximumLength)
            return;
        QString& slot = m_slots[qHash(text) & (m_slots.size() - 1)];
        if (slot == text)
            text = slot;
        else
            slot = text;
    }

private:
    static constexpr qsizetype maximumLength = 32;
    std::array<QString, 4096> m_slots;
};

} // namespace qv
