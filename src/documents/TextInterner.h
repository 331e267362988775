#pragma once

#include <QSet>
#include <QString>

namespace qv {

// Makes equal short texts share one copy, so a sheet of many equal cells costs little more
// than its grid. Remembers a bounded number of texts.
class TextInterner {
public:
    void intern(QString& text)
    {
        if (text.size() > maximumLength)
            return;
        const auto found = m_seen.constFind(text);
        if (found != m_seen.constEnd()) {
            text = *found;
            return;
        }
        if (m_seen.size() >= maximumTexts)
            m_seen.clear();
        m_seen.insert(text);
    }

private:
    static constexpr qsizetype maximumLength = 32;
    static constexpr qsizetype maximumTexts = 1 << 16;
    QSet<QString> m_seen;
};

} // namespace qv
