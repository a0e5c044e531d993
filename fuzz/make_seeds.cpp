// Writes the fuzz targets' seed corpus into a folder, fuzz/corpus in the repository, from the
// tests' own corpus: every golden, damaged, odd and crafted file for the two decoding targets,
// the golden sources for the round trip, and their counts for the tree target. The sources that
// have no golden file are compressed by the engine itself. Files of the same name are replaced;
// others, such as regression files kept from findings, are left alone.
//
//   fuzz_make_seeds fuzz/corpus

#include "CoderRun.h"
#include "Corpus.h"
#include "TestSupport.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using hufpack::test::Bytes;
namespace fs = std::filesystem;
namespace test = hufpack::test;

// A seed larger than this would make every run of the fuzzer slow.
constexpr std::size_t kMaxSeedBytes = 64 << 10;
// The decoding targets' first byte: bit 0 asks for a valid checksum, the bits above it choose
// the fast decoder's threads and chunks.
constexpr std::uint8_t kFixChecksum = 1;

class Seeds
{
public:
    explicit Seeds(fs::path root) : m_root(std::move(root)) { }

    void Put(const std::string& target, const std::string& name, const Bytes& bytes)
    {
        if (bytes.size() > kMaxSeedBytes)
            return;
        fs::create_directories(m_root / target);
        test::WriteFile(m_root / target / name, bytes);
        ++m_written;
    }

    // A file for both decoding targets, behind the switch byte.
    void PutFile(const std::string& name, std::uint8_t switchByte, const Bytes& file)
    {
        Bytes seed { switchByte };
        seed.insert(seed.end(), file.begin(), file.end());
        for (const char* target : { "decode", "differential" })
            Put(target, name, seed);
    }

    // The same file with the switch byte's other bits set as well: the fast decoder then cuts
    // it into chunks of each size it offers, from one bit up, with none to three worker threads.
    void PutFileInChunks(const std::string& name, const std::string& suffix,
                         std::uint8_t fixChecksum, const Bytes& file)
    {
        PutFile(name + suffix, fixChecksum, file);
        for (int choice = 1; choice < 8; ++choice)
            PutFile(name + "-chunks-" + std::to_string(choice) + suffix,
                    static_cast<std::uint8_t>(fixChecksum | (choice << 3) | ((choice % 3) << 1)),
                    file);
    }

    // The source for the round trip, its counts for the tree, its file for the decoders.
    void PutSource(const std::string& name, const Bytes& source, const Bytes& file)
    {
        Put("roundtrip", name, source);
        std::vector<std::uint32_t> counts(256);
        for (const std::uint8_t byte : source)
            ++counts[byte];
        PutCounts(name, counts);
        PutFileInChunks(name, ".huf", 0, file);
    }

    // Counts for the tree target, four bytes each, the lowest first.
    void PutCounts(const std::string& name, const std::vector<std::uint32_t>& counts)
    {
        Bytes bytes;
        for (const std::uint32_t count : counts) {
            for (int k = 0; k < 4; ++k)
                bytes.push_back(static_cast<std::uint8_t>(count >> (8 * k)));
        }
        Put("tree", name, bytes);
    }

    [[nodiscard]] int Written() const { return m_written; }

private:
    fs::path m_root;
    int m_written = 0;
};

// A case's name as a file name: "first 12 bytes" becomes "first-12-bytes".
std::string FileName(const std::string& prefix, const std::string& name)
{
    std::string file = prefix;
    for (const char c : name) {
        if (std::isalnum(static_cast<unsigned char>(c)))
            file += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        else if (file.back() != '-')
            file += '-';
    }
    while (file.back() == '-')
        file.pop_back();
    return file;
}

Bytes Compressed(const Bytes& source)
{
    const test::Coded coded = test::Encode(source);
    if (coded.result != hufpack::JobResult::Done)
        throw std::runtime_error("the engine cannot compress a seed");
    return coded.bytes;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER (fuzz/corpus in the repository)\n", argv[0]);
        return 2;
    }
    Seeds seeds(argv[1]);
    for (const test::Golden& golden : test::GoldenFiles())
        seeds.PutSource(golden.name, golden.source, golden.file);
    // Two sources with longer codes: counts in a Fibonacci sequence, and text.
    const Bytes fibonacci = test::FibonacciBytes(16);
    seeds.PutSource("fibonacci", fibonacci, Compressed(fibonacci));
    Bytes text;
    for (int line = 0; line < 40; ++line) {
        const Bytes words = test::BytesOf("the quick brown fox jumps over the lazy dog\n");
        text.insert(text.end(), words.begin(), words.end());
    }
    seeds.PutSource("text", text, Compressed(text));

    seeds.PutFile("bad-checksum", 0, test::BadChecksumFile());
    for (const test::Sample& damaged : test::DamagedFiles())
        seeds.PutFile(FileName("damaged-", damaged.name), 0, damaged.file);
    for (const test::Consistent& odd : test::OddButConsistentFiles())
        seeds.PutFile(FileName("odd-", odd.name), 0, odd.file);
    for (const test::Sample& crafted : test::CraftedFiles())
        seeds.PutFileInChunks(FileName("crafted-", crafted.name), "", kFixChecksum, crafted.file);

    // Counts that only the tree target meets: the deepest trees, weights that wrap, negative
    // counts among positive ones, every value alike.
    std::vector<std::uint32_t> doubling(256);
    std::vector<std::uint32_t> fibonacciCounts(256);
    std::vector<std::uint32_t> negatives(256);
    std::uint32_t a = 1;
    std::uint32_t b = 1;
    for (int value = 0; value < 256; ++value) {
        doubling[value] = value < 31 ? 1u << value : 0x7FFFFFFFu;
        fibonacciCounts[value] = value < 40 ? a : 0;
        const std::uint32_t next = a + b;
        a = b;
        b = next;
        negatives[value] = static_cast<std::uint32_t>(value % 3 ? -value : value);
    }
    seeds.PutCounts("doubling", doubling);
    seeds.PutCounts("fibonacci-counts", fibonacciCounts);
    seeds.PutCounts("negatives", negatives);
    seeds.PutCounts("equal", std::vector<std::uint32_t>(256, 7));
    std::printf("%d seeds written under %s\n", seeds.Written(), argv[1]);
    return 0;
}
