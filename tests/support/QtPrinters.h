#pragma once
// Readable test failure output for Qt values; included in every test source by the build.

#include <QString>
#include <QUrl>

#include <optional>
#include <ostream>

inline void PrintTo(const QString& value, std::ostream* os)
{
    *os << '"' << value.toStdString() << '"';
}

inline void PrintTo(const QUrl& value, std::ostream* os)
{
    *os << value.toString().toStdString();
}
