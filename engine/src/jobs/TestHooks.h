#pragma once

// What the tests and the benchmark may see in the engine beyond what its programs use: the node
// heap's positions and the parts of a source. None of it changes a byte of output, nor is it
// read on a job's way. It stays out of the classes' own interfaces; only targets linked with
// hufpack_engine_internals see it.

#include "code/NodeHeap.h"
#include "encode/PartEncoder.h"

namespace hufpack {

struct NodeHeapTesting
{
    [[nodiscard]] static int Size(const NodeHeap& heap) { return heap.m_size; }
    [[nodiscard]] static const TreeNode* At(const NodeHeap& heap, int position)
    {
        return heap.m_nodes[position];
    }
};

struct PartEncoderTesting
{
    [[nodiscard]] static int PartCount(const PartEncoder& encoder)
    {
        return static_cast<int>(encoder.m_parts.size());
    }
};

} // namespace hufpack
