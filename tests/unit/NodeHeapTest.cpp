// The node heap's positions after every push and pop, which fix the code tree.

#include "code/NodeHeap.h"

#include "jobs/TestHooks.h"

#include <deque>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace hufpack {
namespace {

// A leaf as its byte and weight (a5); an inner node as its leaves from left to right and its
// weight ((cd)2).
std::string Leaves(const TreeNode* node)
{
    if (node->IsLeaf())
        return std::string(1, static_cast<char>(node->symbol));
    return Leaves(node->left) + Leaves(node->right);
}

std::string Describe(const TreeNode* node)
{
    const std::string name = node->IsLeaf() ? Leaves(node) : "(" + Leaves(node) + ")";
    return name + std::to_string(node->weight);
}

std::string Contents(const NodeHeap& heap)
{
    std::string text;
    for (int i = 0; i < NodeHeapTesting::Size(heap); ++i)
        text += (i ? ", " : "") + Describe(NodeHeapTesting::At(heap, i));
    return text.empty() ? "empty" : text;
}

// The heap's positions after every step of building the tree of "abracadabra": these are what
// fix the tree, so each push and pop is checked against them. A step pushes a leaf ("push a5"),
// pops the node named ("pop c1"), or pushes the merge of the last two nodes popped, the first
// of them on the left ("merge").
TEST(NodeHeap, AbracadabraStepByStep)
{
    const struct
    {
        const char* step;
        const char* heap;
        const char* why;
    } steps[] = {
        { "push a5", "a5", "" },
        { "push b2", "b2, a5", "" },
        { "push c1", "c1, a5, b2", "" },
        { "push d1", "c1, d1, b2, a5", "a pushed node never rises above an equal weight" },
        { "push r2", "c1, d1, b2, a5, r2", "" },
        { "pop c1", "d1, r2, b2, a5",
          "the hole descends to the bottom before the last node rises" },
        { "pop d1", "b2, r2, a5", "" },
        { "merge", "b2, r2, a5, (cd)2", "" },
        { "pop b2", "r2, (cd)2, a5", "on a tie the hole takes the right child" },
        { "pop r2", "(cd)2, a5", "" },
        { "merge", "(cd)2, a5, (br)4", "" },
        { "pop (cd)2", "(br)4, a5", "" },
        { "pop (br)4", "a5", "" },
        { "merge", "a5, (cdbr)6", "" },
        { "pop a5", "(cdbr)6", "" },
        { "pop (cdbr)6", "empty", "" },
        { "merge", "(acdbr)11", "" },
        { "pop (acdbr)11", "empty", "" },
    };
    NodeHeap heap;
    std::deque<TreeNode> nodes;
    std::vector<TreeNode*> popped;
    for (const auto& s : steps) {
        SCOPED_TRACE(s.step);
        const std::string step = s.step;
        if (step == "merge") {
            ASSERT_GE(popped.size(), 2u);
            heap.Push(&nodes.emplace_back(popped.end()[-2], popped.end()[-1]));
        } else if (step.starts_with("push ")) {
            heap.Push(
                &nodes.emplace_back(static_cast<std::uint8_t>(step[5]), std::stoi(step.substr(6))));
        } else {
            popped.push_back(heap.Pop());
            EXPECT_EQ(Describe(popped.back()), step.substr(4));
        }
        EXPECT_EQ(Contents(heap), s.heap) << s.why;
    }
    EXPECT_TRUE(heap.IsEmpty());
}

// Pops come out in order of weight for any mix of pushes and pops; equal weights may come in any
// order, but never before a lighter one.
TEST(NodeHeap, PopsLightestFirst)
{
    NodeHeap heap;
    std::deque<TreeNode> nodes;
    std::uint32_t state = 12345;
    auto next = [&] { return state = state * 1103515245u + 12345u; };
    for (int i = 0; i < NodeHeap::kCapacity; ++i)
        heap.Push(
            &nodes.emplace_back(std::uint8_t { 0 }, static_cast<std::int32_t>(next() % 50) - 10));
    int previous = INT32_MIN;
    while (!heap.IsEmpty()) {
        const int weight = heap.Pop()->weight;
        EXPECT_GE(weight, previous) << "weights compare as signed values, lightest first";
        previous = weight;
    }
}

} // namespace
} // namespace hufpack
