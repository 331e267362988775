// Any bytes as a package through ZipPackageReader, every entry read to its end.
#include "FuzzSupport.h"

#include "documents/readers/ZipPackageReader.h"
#include "model/errors/Error.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qvfuzz::startQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = qvfuzz::writeScratchFile(QStringLiteral("input.zip"), qvfuzz::bytesOf(data, size));
    try {
        qv::ZipPackageReader reader(path, {QStringLiteral("damaged"), QStringLiteral("too large")}, {});
        int visited = 0;
        reader.forEachEntry([&](const QString& name, qv::ZipPackageReader::Entry& entry) {
            // Alternate entries whole and piecewise, as the readers do.
            if (++visited % 2)
                (void)entry.readAll(qint64(1) << 24);
            else {
                char buffer[4096];
                while (entry.read(buffer, sizeof buffer) > 0) {
                }
            }
        });
        // A second pass over the same package, as the XLSX reader makes.
        reader.forEachEntry([](const QString&, qv::ZipPackageReader::Entry&) {});
    } catch (const qv::Error&) {
    }
    return 0;
}
