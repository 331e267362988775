#pragma once

#include <QString>

namespace qv {

// libvips and the fifty-odd libraries that come with it are opened the first time a picture is
// touched, not when a program starts: most workers read a PDF, an archive or a document and never
// need them. Where the build links libvips directly (another architecture, the sanitizers), it is
// simply there.
class VipsLibrary {
public:
    // Opens libvips once per process; false when it cannot be opened.
    static bool load();
    // Why load() failed, for the log; empty when it did not.
    static QString error();
    // Whether this process has libvips open now, without opening it.
    static bool isLoaded();
    // Whether libvips is installed where the loader looks, without opening it where it is found;
    // kept for the life of the process. Without it the image tools are hidden.
    static bool isPresent();
};

} // namespace qv
