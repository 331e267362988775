#pragma once

namespace qv {

class FileProbe;

// Puts the real services behind the interfaces that lower layers read through: the settings
// store, the file probe with the engines' content probes, and the capability look-ups. Every
// program calls it first, before anything describes a file or reads a setting; calling it
// again does nothing.
void installSystemServices();

// From now on the picture types libvips handles are asked of a worker (isolation on), so that
// this process never loads libvips' modules: for the application, which lives all session.
void askWorkersForImageTypes();

// The installed probe, except that a media file's streams come only from what an earlier look
// found, never from a new one: for the main thread, which must not wait on FFmpeg.
const FileProbe& probeWithoutWaiting();

} // namespace qv
