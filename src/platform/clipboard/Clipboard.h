#pragma once

#include <QList>
#include <QString>
#include <QUrl>

namespace qv {

// The desktop clipboard.
class Clipboard {
public:
    virtual ~Clipboard() = default;
    // Replaces the clipboard with plain text.
    virtual void setText(const QString& text) = 0;
    // Replaces the clipboard with files, in the forms file managers paste.
    virtual void setFiles(const QList<QUrl>& urls) = 0;

    static Clipboard& system();
};

} // namespace qv
