#pragma once

#include <QString>

#include <thread>

typedef struct _VipsSource VipsSource;

namespace qv {

// Starts libvips once per process with every format it has; false when it could not start.
// SVG files are never loaded by their path: librsvg would then draw what a picture includes from
// the files beside it (xi:include, images by relative link).
bool ensureVips();

// The same for reading the file at path alone: where this process put off libvips' modules
// (deferVipsModules), a JPEG, PNG, GIF or WebP by its first bytes, which libvips reads itself
// and no module claims, does not load them; any other file does.
bool ensureVipsToRead(const QString& path);

// The same for running one libvips operation by name (a saver): the modules are loaded only
// when libvips does not have it itself.
bool ensureVipsOperation(const char* name);

// Throws the sentence an item fails with where libvips cannot be opened or cannot start here.
void requireVips();

// Called once at a process's start, before anything starts libvips: libvips then starts without
// its modules (HEIF, JPEG XL, ImageMagick, OpenSlide, Poppler, with some ninety libraries of
// their own) and loads them on the first file or operation that needs one. A worker that only
// converts a JPEG to PNG never loads them.
void deferVipsModules();

// Opens and starts libvips on a thread of its own while the rest of a process starts, with the
// description of every format it reads and writes made: nothing of that reads a file or starts
// another thread. Set here, before the thread, is what its start needs in the environment,
// which the thread then leaves alone while other threads read it. finishVipsAside() joins the
// thread and leaves the environment as a start on the calling thread would have.
std::thread startVipsAside();
void finishVipsAside(std::thread& aside);

// True for the names of SVG pictures (svg, svgz).
bool isSvgName(const QString& path);

// An SVG file's bytes as a source with no path, so that librsvg resolves nothing outside it:
// only what the picture holds itself is drawn. Null (libvips' error set) when it cannot be read
// or is larger than any picture needs.
VipsSource* svgSource(const QString& path);

// Shares the machine's cores among the jobs that may run at once on the cpu lane: each
// libvips pipeline gets max(1, cores / lanes) threads.
void setVipsLanes(int cpuLaneLimit);

} // namespace qv
