#include "media/huffman_code.h"

#include <stdexcept>

namespace media {

namespace {

// Code lengths before they are limited to 16 bits: a tree of 257 leaves is at most 256 deep.
constexpr int longest_unlimited = 256;
// The extra symbol that keeps the all-ones code unused.
constexpr int reserved_symbol = 256;

// The least frequent symbol with a frequency, other than `skip`; the higher one among equals.
int least_frequent(const std::array<long, 257>& frequency, int skip) {
    int found = -1;
    long least = 0;
    for (int symbol = 0; symbol <= reserved_symbol; ++symbol) {
        if (frequency[symbol] == 0 || symbol == skip)
            continue;
        if (found < 0 || frequency[symbol] <= least) {
            least = frequency[symbol];
            found = symbol;
        }
    }
    return found;
}

// Lengthens every code in the chain that starts at `symbol` by one bit; returns its last symbol.
int lengthen_chain(int symbol, std::array<int, 257>& length, const std::array<int, 257>& next) {
    ++length[symbol];
    while (next[symbol] >= 0) {
        symbol = next[symbol];
        ++length[symbol];
    }
    return symbol;
}

// Moves codes longer than 16 bits up the tree, keeping the code complete.
void limit_to_16_bits(std::array<int, longest_unlimited + 1>& count) {
    for (int length = longest_unlimited; length > 16; --length) {
        while (count[length] > 0) {
            int shorter = length - 2;
            while (count[shorter] == 0)
                --shorter;
            count[length] -= 2;
            ++count[length - 1];
            count[shorter + 1] += 2;
            --count[shorter];
        }
    }
}

} // namespace

huffman_code optimal_code(const symbol_frequencies& frequencies) {
    std::array<long, 257> frequency{};
    bool any = false;
    for (int symbol = 0; symbol < 256; ++symbol) {
        frequency[symbol] = frequencies[symbol];
        any = any || frequencies[symbol] > 0;
    }
    if (!any)
        throw std::invalid_argument("no symbol to code");
    frequency[reserved_symbol] = 1;

    std::array<int, 257> length{};
    std::array<int, 257> next;
    next.fill(-1);
    for (;;) {
        const int first = least_frequent(frequency, -1);
        const int second = least_frequent(frequency, first);
        if (second < 0)
            break;
        frequency[first] += frequency[second];
        frequency[second] = 0;
        const int first_last = lengthen_chain(first, length, next);
        next[first_last] = second;
        lengthen_chain(second, length, next);
    }

    std::array<int, longest_unlimited + 1> count{};
    for (int symbol = 0; symbol <= reserved_symbol; ++symbol)
        if (length[symbol] > 0)
            ++count[length[symbol]];
    limit_to_16_bits(count);
    // The reserved symbol has one of the longest codes: giving it up frees the all-ones code.
    int longest = 16;
    while (count[longest] == 0)
        --longest;
    --count[longest];

    huffman_code code;
    for (int bits = 1; bits <= 16; ++bits)
        code.counts[bits] = static_cast<uint8_t>(count[bits]);
    // Symbols in order of their unlimited lengths, then of value, fill the limited lengths.
    for (int bits = 1; bits <= longest_unlimited; ++bits)
        for (int symbol = 0; symbol < 256; ++symbol)
            if (length[symbol] == bits)
                code.symbols.push_back(static_cast<uint8_t>(symbol));
    return code;
}

std::array<uint8_t, 256> code_lengths(const huffman_code& code) {
    std::array<uint8_t, 256> lengths{};
    std::size_t next = 0;
    for (int bits = 1; bits <= 16; ++bits)
        for (int i = 0; i < code.counts[bits] && next < code.symbols.size(); ++i)
            lengths[code.symbols[next++]] = static_cast<uint8_t>(bits);
    return lengths;
}

bool is_baseline_symbol(coefficient_kind kind, int symbol) {
    if (kind == coefficient_kind::dc)
        return symbol >= 0 && symbol <= 11;
    // End of block, sixteen zeros, and a run of 0..15 zeros before a value of 1..10 bits.
    const int run = symbol >> 4;
    const int size = symbol & 15;
    return symbol == 0x00 || symbol == 0xF0 || (run <= 15 && size >= 1 && size <= 10);
}

huffman_code covering_code(const huffman_code& fitted, coefficient_kind kind) {
    const std::array<uint8_t, 256> lengths = code_lengths(fitted);
    symbol_frequencies frequencies{};
    for (int symbol = 0; symbol < 256; ++symbol) {
        if (!is_baseline_symbol(kind, symbol))
            continue;
        // A code of n bits stands for a symbol seen about once in 2^n: counts of 2^(20-n)
        // rebuild about the same lengths, and 1 (less than any of them) adds the unused ones.
        frequencies[symbol] = lengths[symbol] > 0 ? 1L << (20 - lengths[symbol]) : 1;
    }
    return optimal_code(frequencies);
}

} // namespace media
