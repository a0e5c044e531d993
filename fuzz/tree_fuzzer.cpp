// Builds the code tree from 256 arbitrary 32-bit counts (negative, zero, huge, wrapping sums):
// no crash, every value with a positive count gets a code, no code is longer than 255 bits, the
// codes are prefix-free, and the node heap is empty afterwards.

#include "FuzzSupport.h"
#include "code/CodeTree.h"
#include "code/NodeHeap.h"
#include "format/ByteOrder.h"

#include <memory>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace hufpack;
    // The counts as the table stores them, four bytes each, the lowest first; a short input
    // leaves the high bytes of its last count and every later count 0.
    Counts counts {};
    for (std::size_t value = 0; value < 256 && 4 * value < size; ++value)
        counts[value] = static_cast<std::int32_t>(LoadLittleEndian(
            std::span(data + 4 * value, std::min<std::size_t>(4, size - 4 * value))));
    CodeTree tree;
    const TreeNode* const root = tree.BuildTree(counts);
    fuzz::Check(TheNodeHeap().IsEmpty(), "building leaves the node heap empty");
    if (!root)
        return 0;
    if (root->IsLeaf())
        return 0; // a lone leaf after weights that cancel out: no codes to give
    tree.AssignCodes(root, std::string());

    // Every code as a path in a binary trie: a code that ends where another passes, or passes
    // where another ends, is not prefix-free.
    struct Node
    {
        std::unique_ptr<Node> child[2];
        bool end = false;
    };
    Node trie;
    for (int value = 0; value < 256; ++value) {
        if (counts[value] <= 0)
            continue;
        fuzz::Check(tree.HasCode(static_cast<std::uint8_t>(value)),
                    "a value with a positive count has a code");
        const CodeWord& code = tree.CodeFor(static_cast<std::uint8_t>(value));
        fuzz::Check(code.Length() >= 1 && code.Length() <= 255, "codes are 1 to 255 bits");
        Node* node = &trie;
        for (int i = 1; i <= code.Length(); ++i) {
            fuzz::Check(!node->end, "no code is a prefix of another");
            auto& next = node->child[code[i] != 0];
            if (!next)
                next = std::make_unique<Node>();
            node = next.get();
        }
        fuzz::Check(!node->end && !node->child[0] && !node->child[1], "codes are prefix-free");
        node->end = true;
    }
    return 0;
}
