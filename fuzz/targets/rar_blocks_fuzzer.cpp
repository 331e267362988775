// Any bytes as a RAR archive's block chain, walked from memory; every stored entry's declared
// size must be one the header could hold.
#include "FuzzSupport.h"

#include "catalogue/archives/RarBlockChain.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = qvfuzz::bytesOf(data, size);
    const auto readAt = [&](qint64 offset, qint64 length) {
        if (offset < 0 || length < 0 || offset > bytes.size())
            std::abort();
        return bytes.mid(offset, length);
    };
    const qv::RarBlockChain chain = qv::RarBlockChain::walk(bytes.size(), readAt);
    for (const auto& stored : chain.storedData()) {
        if (stored && stored->size < 0)
            std::abort();
    }
    return 0;
}
