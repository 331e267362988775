#pragma once

#include <QList>
#include <QString>

#include <utility>

namespace qv {

// The one table of user-visible words that name another desktop, with the words a Linux user
// reads instead. Every such text passes through platformWording before it is shown.
const QList<std::pair<QString, QString>>& platformWordingTable();

// The text with each phrase of the table replaced; whole sentences of the table first, so a
// sentence can read differently from its parts.
QString platformWording(const QString& text);

} // namespace qv
