#include "FuzzTargets.h"

#include <cstddef>
#include <cstdint>

// Each fuzzing program is this file with QUORREL_FUZZ_TARGET naming its entry.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzTargets::QUORREL_FUZZ_TARGET(
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    return 0;
}
