#pragma once

#include <QString>

typedef struct _VipsSource VipsSource;

namespace qv {

// Starts libvips once per process; false when it could not start. SVG files are never loaded
// by their path: librsvg would then draw what a picture includes from the files beside it
// (xi:include, images by relative link).
bool ensureVips();

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
