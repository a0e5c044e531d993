// One pass of a coder in memory: the table-driven paths through a TreeCoder, or the reference
// paths one bit at a time.

#include "CoderRun.h"

#include "code/NodeHeap.h"
#include "jobs/TreeCoder.h"
#include "reference/ReferencePaths.h"
#include "sys/ByteSink.h"
#include "sys/ByteSource.h"
#include "sys/FileStream.h"
#include "sys/Threads.h"

namespace hufpack::test {

namespace {

Coded Run(std::span<const std::uint8_t> input, bool encode, const Pass& pass)
{
    Coded coded;
    if (pass.path == Path::Reference) {
        FileStream in;
        FileStream out;
        in.AttachForReading(input);
        out.AttachForWriting(coded.bytes);
        coded.result = (encode ? reference::Encode(in, out) : reference::Decode(in, out)).Result();
        out.Close();
    } else {
        const ByteSource in = ByteSource::OfMemory(input);
        ByteSink out = ByteSink::ToVector(coded.bytes);
        TreeCoder::Options options;
        options.threads = ThreadsFor(pass.threads);
        options.build = pass.build;
        if (pass.parts > 0) {
            options.maxParts = pass.parts;
            options.minPartBytes = 1;
        }
        if (pass.decode)
            options.decode = *pass.decode;
        TreeCoder coder(in, out, options);
        coded.result = (encode ? coder.Encode() : coder.Decode()).Result();
        coded.stats = coder.DecodeStatistics();
    }
    coded.heapEmpty = TheNodeHeap().IsEmpty();
    return coded;
}

} // namespace

Coded Encode(std::span<const std::uint8_t> input, const Pass& pass)
{
    return Run(input, true, pass);
}

Coded Decode(std::span<const std::uint8_t> input, const Pass& pass)
{
    return Run(input, false, pass);
}

} // namespace hufpack::test
