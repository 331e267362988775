#pragma once

namespace qv {

// The worker's whole life: reads requests on standard input and replies on standard output
// until its input ends, then ends the process. Its program calls it, and so does a template
// that starts workers without an exec.
[[noreturn]] int workerMain(int argc, char** argv);

} // namespace qv
