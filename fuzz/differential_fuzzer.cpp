// Decodes the same bytes with the fast decoder and with the plain bit-by-bit walk: the results
// and every output byte must be the same. The first byte is the same checksum switch as in the
// decode target; its other bits choose how many threads decode the stream and in which chunks.

#include "FuzzSupport.h"
#include "format/Format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace hufpack;
    if (size == 0)
        return 0;
    fuzz::Bytes file(data + 1, data + size);
    if ((data[0] & 1) && file.size() >= kHeaderSize) {
        const Header header = Header::Parse(file);
        file[0] = Header::For(header.totalBits, header.tableSize).checksum;
    }
    const fuzz::Coded fast = fuzz::Run(file, false, fuzz::DecodePassFrom(data[0], file));
    const fuzz::Coded walked = fuzz::Run(file, false, { .path = fuzz::Path::Reference });
    fuzz::Check(fast.result == walked.result, "both decoders give the same result");
    fuzz::Check(fast.bytes == walked.bytes, "both decoders write the same bytes");
    return 0;
}
