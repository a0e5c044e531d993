#pragma once

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace hufpack::test {

using Bytes = std::vector<std::uint8_t>;

Bytes BytesOf(std::string_view text);
// "30 17 00" -> {0x30, 0x17, 0x00}; spaces and commas separate bytes.
Bytes FromHex(std::string_view hex);
std::string ToHex(const Bytes& bytes);

Bytes ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const Bytes& bytes);

// A fresh folder under the system's temporary folder, removed with everything in it when the
// object goes.
class ScratchDir
{
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    [[nodiscard]] const std::filesystem::path& Path() const { return m_path; }
    [[nodiscard]] std::string operator/(std::string_view name) const;
    // Names of everything in the folder, sorted.
    [[nodiscard]] std::vector<std::string> List() const;

private:
    std::filesystem::path m_path;
};

// Deterministic test data.
// Bytes drawn from a skewed distribution: a few values dominate, with runs.
Bytes SkewedBytes(std::size_t size, std::uint64_t seed);
// Words separated by spaces and line ends, with word frequencies following a Zipf-like law:
// text of the kind people compress. Successive calls of Next continue the same text.
class TextGenerator
{
public:
    explicit TextGenerator(std::uint64_t seed);
    Bytes Next(std::size_t size);

private:
    std::mt19937_64 m_random;
    std::vector<std::string> m_words;
    std::discrete_distribution<int> m_pick;
    int m_lineLength = 0;
};
Bytes TextLikeBytes(std::size_t size, std::uint64_t seed);
// Counts in a Fibonacci sequence, which give the deepest trees.
Bytes FibonacciBytes(int distinctValues);

// Starts the hufpack tool named by the HUFPACK_CLI environment variable with `args`, standard
// input from /dev/null and standard output and error written to the files named; -1 when it
// cannot be started.
int StartTool(const std::vector<std::string>& args, const std::string& outPath,
              const std::string& errPath);

} // namespace hufpack::test
