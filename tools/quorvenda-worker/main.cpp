// The worker: runs work items for the application in a process of their own, so that a file
// that crashes or hangs a library costs one item.
#include "catalogue/isolated/WorkerMain.h"

int main(int argc, char** argv)
{
    qv::workerMain(argc, argv);
}
