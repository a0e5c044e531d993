// Decodes arbitrary bytes. The result is 0 or -2, nothing crashes, hangs or leaks, and the output
// is no longer than the header's total bits allow (every code is at least one bit). The first
// input byte is a switch: when its low bit is set, the file's checksum is made valid, so that
// the fuzzer gets past it to the table and the bit stream; the other bits choose the threads
// and chunks of the fast decoder.

#include "FuzzSupport.h"
#include "format/Format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace hufpack;
    if (size == 0)
        return 0;
    const bool fixChecksum = data[0] & 1;
    fuzz::Bytes file(data + 1, data + size);
    std::int32_t totalBits = 0;
    if (file.size() >= kHeaderSize) {
        const Header header = Header::Parse(file);
        totalBits = header.totalBits;
        if (fixChecksum)
            file[0] = Header::For(header.totalBits, header.tableSize).checksum;
    }
    const fuzz::Coded decoded = fuzz::Run(file, false, fuzz::DecodePassFrom(data[0], file));
    fuzz::Check(decoded.result == JobResult::Done || decoded.result == JobResult::NotOurFormat,
                "decoding gives 0 or -2");
    fuzz::Check(decoded.bytes.size() <= static_cast<std::size_t>(std::max(totalBits, 0)),
                "no more bytes out than bits in");
    return 0;
}
