#pragma once
// Huffman codes as a JPEG file's DHT segment holds them, and the two things the recorder does
// with them: build the best code for counted symbols, and widen a code fitted to one picture so
// that it can code every symbol of any later picture.

#include <array>
#include <cstdint>
#include <vector>

namespace media {

struct huffman_code {
    // counts[k]: how many codes are k bits long (k = 1..16; counts[0] stays 0).
    std::array<uint8_t, 17> counts{};
    // The symbols, shortest code first.
    std::vector<uint8_t> symbols;

    bool operator==(const huffman_code& other) const {
        return counts == other.counts && symbols == other.symbols;
    }
};

// Frequency of each of the 256 symbols; 0 for a symbol that needs no code.
using symbol_frequencies = std::array<long, 256>;

// The optimal code of at most 16 bits for these frequencies, by the JPEG standard's own
// procedure (Annex K.2), which also keeps the all-ones code free. Throws std::invalid_argument
// when no symbol has a frequency.
huffman_code optimal_code(const symbol_frequencies& frequencies);

// Code length of every symbol in `code`, 0 for the symbols it has no code for.
std::array<uint8_t, 256> code_lengths(const huffman_code& code);

enum class coefficient_kind { dc, ac };

// Every symbol a baseline 8-bit JPEG scan may need for that kind of coefficient.
bool is_baseline_symbol(coefficient_kind kind, int symbol);

// A code for every baseline symbol of `kind`, shaped like `fitted`: each symbol keeps about the
// length it had there, and symbols `fitted` had no code for get the longest codes. A table
// fitted to the first picture of a file thus codes every later one.
huffman_code covering_code(const huffman_code& fitted, coefficient_kind kind);

} // namespace media
