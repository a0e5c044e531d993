// Compresses arbitrary bytes and restores them: decode(encode(x)) must be x, compared byte for
// byte; the fast encoder, in one to four parts, must write exactly what the plain one writes.

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace hufpack;
    if (size == 0)
        return 0; // an empty source is the file job's case: nothing is coded
    const int parts = 1 + data[0] % 4;
    const std::span<const std::uint8_t> source(data, size);
    const fuzz::Coded packed = fuzz::Run(source, true, { .parts = parts });
    fuzz::Check(packed.result == JobResult::Done, "any small source compresses");
    const fuzz::Coded plain = fuzz::Run(source, true, { .path = fuzz::Path::Reference });
    fuzz::Check(plain.result == JobResult::Done && plain.bytes == packed.bytes,
                "the fast encoder writes the plain encoder's bytes");
    const fuzz::Coded restored = fuzz::Run(packed.bytes, false, {});
    fuzz::Check(restored.result == JobResult::Done, "our own file decodes");
    fuzz::Check(restored.bytes == fuzz::Bytes(data, data + size), "the round trip restores x");
    return 0;
}
