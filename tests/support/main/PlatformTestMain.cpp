// For the layers below the engines: the real disk and settings, without any engine, so that
// these tests link none.
#include "model/operations/Capabilities.h"
#include "platform/files/LocalFileProbe.h"
#include "platform/settings/SettingsStore.h"
#include "support/main/RunTests.h"

int main(int argc, char** argv)
{
    return qv::test::runTests(argc, argv, [] {
        qv::Settings::installShared(qv::SettingsStore::shared());
        static const qv::LocalFileProbe probe;
        qv::FileProbe::installSystem(probe);
        qv::Capabilities::installSystemLookups(qv::Capabilities::Lookups::basic);
    });
}
