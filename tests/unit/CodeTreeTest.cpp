// The code tree and the code words that the counts of a source give. Both are part of the file
// format: a file decodes only with the very tree its writer built.

#include "code/CodeTree.h"

#include "code/NodeHeap.h"

#include <gtest/gtest.h>
#include <map>
#include <string>

namespace hufpack {
namespace {

// The test suite below takes the class's name.
using Tree = CodeTree;

Counts CountsOf(std::string_view text)
{
    Counts counts {};
    for (const char c : text)
        ++counts[static_cast<std::uint8_t>(c)];
    return counts;
}

std::string LeafName(const TreeNode* node)
{
    if (node->symbol == 32)
        return node->weight == 0 ? "dummy" : "space";
    return std::string(1, static_cast<char>(node->symbol));
}

// (left, right) pairs, leaves by their byte.
std::string Shape(const TreeNode* node)
{
    if (node->IsLeaf())
        return LeafName(node);
    return "(" + Shape(node->left) + ", " + Shape(node->right) + ")";
}

struct TreeCase
{
    const char* source;
    const char* tree;
    // byte=code pairs for every byte of the source, and the total bits.
    std::map<char, std::string> codes;
    int totalBits;
    friend void PrintTo(const TreeCase& c, std::ostream* os) { *os << '"' << c.source << '"'; }
};

class CodeTree : public testing::TestWithParam<TreeCase>
{
};

TEST_P(CodeTree, BuildsTheTreeAndCodesOfTheFormat)
{
    const TreeCase& c = GetParam();
    Tree tree;
    const TreeNode* root = tree.BuildTree(CountsOf(c.source));
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(Shape(root), c.tree) << "the tree is fixed by the heap's tie rules";
    EXPECT_TRUE(TheNodeHeap().IsEmpty()) << "every tree construction leaves the heap empty";

    tree.AssignCodes(root, "");
    for (const auto& [byte, code] : c.codes) {
        ASSERT_TRUE(tree.HasCode(static_cast<std::uint8_t>(byte))) << byte;
        const CodeWord& word = tree.CodeFor(static_cast<std::uint8_t>(byte));
        std::string bits;
        for (int i = 1; i <= word.Length(); ++i)
            bits += word[i] ? '1' : '0';
        EXPECT_EQ(bits, code) << "code of '" << byte << "'";
    }
    EXPECT_EQ(tree.TotalBits(), c.totalBits) << "total bits = sum of count x code length";
}

INSTANTIATE_TEST_SUITE_P(
    Sources, CodeTree,
    testing::Values(
        TreeCase { "abracadabra",
                   "(a, ((c, d), (b, r)))",
                   { { 'a', "0" }, { 'c', "100" }, { 'd', "101" }, { 'b', "110" }, { 'r', "111" } },
                   23 },
        TreeCase { "abcd",
                   "((a, c), (b, d))",
                   { { 'a', "00" }, { 'c', "01" }, { 'b', "10" }, { 'd', "11" } },
                   8 },
        TreeCase { "abcdefgh",
                   "(((a, c), (h, b)), ((g, f), (e, d)))",
                   { { 'a', "000" },
                     { 'c', "001" },
                     { 'h', "010" },
                     { 'b', "011" },
                     { 'g', "100" },
                     { 'f', "101" },
                     { 'e', "110" },
                     { 'd', "111" } },
                   24 },
        TreeCase { "abcde",
                   "((e, d), (b, (a, c)))",
                   { { 'e', "00" }, { 'd', "01" }, { 'b', "10" }, { 'a', "110" }, { 'c', "111" } },
                   12 },
        TreeCase { "aab", "(b, a)", { { 'b', "0" }, { 'a', "1" } }, 3 },
        // A pop that sifts the last node down from the top would give (b, (c, a)).
        TreeCase { "aabbc", "(a, (c, b))", { { 'a', "0" }, { 'c', "10" }, { 'b', "11" } }, 8 },
        TreeCase { "mississippi",
                   "(i, ((m, p), s))",
                   { { 'i', "0" }, { 'm', "100" }, { 'p', "101" }, { 's', "11" } },
                   21 },
        TreeCase { "hello world",
                   "(((r, w), (d, h)), (l, (o, (space, e))))",
                   { { 'r', "000" },
                     { 'w', "001" },
                     { 'd', "010" },
                     { 'h', "011" },
                     { 'l', "10" },
                     { 'o', "110" },
                     { ' ', "1110" },
                     { 'e', "1111" } },
                   32 },
        // One byte value: code 0, and the dummy leaf's code 1 lands in entry 32.
        TreeCase { "aaaa", "(a, dummy)", { { 'a', "0" }, { ' ', "1" } }, 4 },
        // Byte 32 alone: the dummy leaf, reached last, leaves code 1 for byte 32.
        TreeCase { "    ", "(space, dummy)", { { ' ', "1" } }, 4 }));

TEST(CodeTree, NoPositiveCountGivesNoTree)
{
    Tree tree;
    Counts counts {};
    EXPECT_EQ(tree.BuildTree(counts), nullptr);
    counts['a'] = -5;
    counts['b'] = INT32_MIN;
    EXPECT_EQ(tree.BuildTree(counts), nullptr) << "negative counts are absent, like zero";
    EXPECT_TRUE(TheNodeHeap().IsEmpty());
}

TEST(CodeTree, SameCountsGiveTheSameTreeTwice)
{
    Tree tree;
    const Counts counts = CountsOf("the same counts give the same tree");
    const std::string first = Shape(tree.BuildTree(counts));
    EXPECT_TRUE(TheNodeHeap().IsEmpty());
    EXPECT_EQ(Shape(tree.BuildTree(counts)), first);
}

// Weights that add past the signed 32-bit range wrap; the encoder and the decoder wrap alike.
// Counts that double give the deepest tree: 255 levels for 256 values.
TEST(CodeTree, WrappingWeightsAndDeepTrees)
{
    Tree tree;
    Counts counts {};
    for (int value = 0; value < 256; ++value)
        counts[value] = value < 31 ? (1 << value) : INT32_MAX;
    const TreeNode* root = tree.BuildTree(counts);
    ASSERT_NE(root, nullptr);
    EXPECT_TRUE(TheNodeHeap().IsEmpty());
    tree.AssignCodes(root, "");
    int longest = 0;
    for (int value = 0; value < 256; ++value) {
        ASSERT_TRUE(tree.HasCode(static_cast<std::uint8_t>(value)));
        longest = std::max(longest, tree.CodeFor(static_cast<std::uint8_t>(value)).Length());
    }
    EXPECT_GT(longest, 45) << "wrapped weights reach depths no real source can";
    EXPECT_LE(longest, 255);
}

} // namespace
} // namespace hufpack
