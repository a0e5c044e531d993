#include "NodeHeap.h"

#include <deque>
#include <gtest/gtest.h>
#include <string>

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
    for (int i = 0; i < heap.Size(); ++i)
        text += (i ? ", " : "") + Describe(heap.At(i));
    return text.empty() ? "empty" : text;
}

// The heap's positions after every step of building the tree of "abracadabra": these are what
// fix the tree, so each push and pop is checked against them.
TEST(NodeHeap, AbracadabraStepByStep)
{
    NodeHeap heap;
    std::deque<TreeNode> nodes;
    auto leaf = [&](char symbol, int weight) {
        return &nodes.emplace_back(static_cast<std::uint8_t>(symbol), weight);
    };
    auto merge
        = [&](TreeNode* first, TreeNode* second) { return &nodes.emplace_back(first, second); };

    heap.Push(leaf('a', 5));
    EXPECT_EQ(Contents(heap), "a5");
    heap.Push(leaf('b', 2));
    EXPECT_EQ(Contents(heap), "b2, a5");
    heap.Push(leaf('c', 1));
    EXPECT_EQ(Contents(heap), "c1, a5, b2");
    heap.Push(leaf('d', 1));
    EXPECT_EQ(Contents(heap), "c1, d1, b2, a5")
        << "a pushed node never rises above an equal weight";
    heap.Push(leaf('r', 2));
    EXPECT_EQ(Contents(heap), "c1, d1, b2, a5, r2");

    TreeNode* c = heap.Pop();
    EXPECT_EQ(Describe(c), "c1");
    EXPECT_EQ(Contents(heap), "d1, r2, b2, a5")
        << "the hole descends to the bottom before the last node rises";
    TreeNode* d = heap.Pop();
    EXPECT_EQ(Describe(d), "d1");
    EXPECT_EQ(Contents(heap), "b2, r2, a5");
    heap.Push(merge(c, d));
    EXPECT_EQ(Contents(heap), "b2, r2, a5, (cd)2");
    TreeNode* b = heap.Pop();
    EXPECT_EQ(Describe(b), "b2");
    EXPECT_EQ(Contents(heap), "r2, (cd)2, a5") << "on a tie the hole takes the right child";
    TreeNode* r = heap.Pop();
    EXPECT_EQ(Describe(r), "r2");
    EXPECT_EQ(Contents(heap), "(cd)2, a5");
    heap.Push(merge(b, r));
    EXPECT_EQ(Contents(heap), "(cd)2, a5, (br)4");
    TreeNode* cd = heap.Pop();
    EXPECT_EQ(Describe(cd), "(cd)2");
    EXPECT_EQ(Contents(heap), "(br)4, a5");
    TreeNode* br = heap.Pop();
    EXPECT_EQ(Describe(br), "(br)4");
    EXPECT_EQ(Contents(heap), "a5");
    heap.Push(merge(cd, br));
    EXPECT_EQ(Contents(heap), "a5, (cdbr)6");
    TreeNode* a = heap.Pop();
    EXPECT_EQ(Describe(a), "a5");
    EXPECT_EQ(Contents(heap), "(cdbr)6");
    TreeNode* rest = heap.Pop();
    EXPECT_EQ(Contents(heap), "empty");
    heap.Push(merge(a, rest));
    EXPECT_EQ(Describe(heap.Pop()), "(acdbr)11");
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
