// Nothing but the libraries quorvenda-worker links, so that starting it measures the dynamic
// linker's share of a worker's start (bench/worker_start.sh).
#include "catalogue/isolated/CatalogueWorkers.h"

int main(int argc, char**)
{
    // Never true: it keeps the worker's code linked in, as the worker's main does.
    if (argc > 1000)
        qv::catalogueWorkers();
    return 0;
}
