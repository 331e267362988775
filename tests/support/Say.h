#pragma once

#include <QString>

#include <cstdio>

namespace qv::test {

// A line for the test that runs this helper program and waits for it: out at once.
inline void say(const QString& line)
{
    std::printf("%s\n", qUtf8Printable(line));
    std::fflush(stdout);
}

} // namespace qv::test
