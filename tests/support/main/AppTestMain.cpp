#include "catalogue/SystemServices.h"
#include "support/main/RunTests.h"

int main(int argc, char** argv)
{
    return qv::test::runTests(argc, argv, [] { qv::installSystemServices(); });
}
