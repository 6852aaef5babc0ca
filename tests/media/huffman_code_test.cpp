// Huffman codes for JPEG: optimal codes stay within 16 bits and leave the all-ones code free, and
// a code fitted to one picture is widened to every symbol a later picture may need.

#include "media/huffman_code.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace {

using media::coefficient_kind;

// Sum of 2^-length over all codes, in units of 2^-16: a prefix code keeps it at or below 65536;
// JPEG's codes stay below, as the all-ones code is never used.
long kraft_sum(const media::huffman_code& code) {
    long sum = 0;
    for (int bits = 1; bits <= 16; ++bits)
        sum += long(code.counts[bits]) << (16 - bits);
    return sum;
}

long code_count(const media::huffman_code& code) {
    long count = 0;
    for (int bits = 1; bits <= 16; ++bits)
        count += code.counts[bits];
    return count;
}

TEST(HuffmanCode, OptimalCodeGivesFrequentSymbolsShorterCodesAndKeepsAllOnesFree) {
    media::symbol_frequencies frequencies{};
    frequencies[0x00] = 1000;
    frequencies[0x01] = 500;
    frequencies[0x11] = 250;
    frequencies[0xF0] = 10;
    frequencies[0x2A] = 1;
    const media::huffman_code code = media::optimal_code(frequencies);
    EXPECT_EQ(code.symbols.size(), 5u);
    EXPECT_EQ(code_count(code), 5);
    EXPECT_LT(kraft_sum(code), 65536);
    const auto lengths = media::code_lengths(code);
    EXPECT_EQ(lengths[0x00], 1);
    EXPECT_LE(lengths[0x01], lengths[0x11]);
    EXPECT_LE(lengths[0x11], lengths[0xF0]);
    EXPECT_LE(lengths[0xF0], lengths[0x2A]);
    EXPECT_EQ(lengths[0x02], 0) << "a symbol never counted gets no code";
}

TEST(HuffmanCode, SkewedFrequenciesAreLimitedToSixteenBits) {
    // Fibonacci counts make the unlimited code as deep as the number of symbols.
    media::symbol_frequencies frequencies{};
    long previous = 1;
    long current = 1;
    for (int symbol = 0; symbol < 40; ++symbol) {
        frequencies[symbol] = current;
        const long next = previous + current;
        previous = current;
        current = next;
    }
    const media::huffman_code code = media::optimal_code(frequencies);
    EXPECT_EQ(code_count(code), 40);
    EXPECT_LT(kraft_sum(code), 65536);
    const auto lengths = media::code_lengths(code);
    for (int symbol = 0; symbol < 40; ++symbol) {
        EXPECT_GE(lengths[symbol], 1) << symbol;
        EXPECT_LE(lengths[symbol], 16) << symbol;
    }
    EXPECT_LE(lengths[39], lengths[0]) << "the most frequent symbol has the shortest code";
}

TEST(HuffmanCode, NoSymbolsIsRefused) {
    EXPECT_THROW(media::optimal_code(media::symbol_frequencies{}), std::invalid_argument);
}

TEST(HuffmanCode, CoveringCodeCodesEveryBaselineSymbolAndKeepsTheFittedShape) {
    media::symbol_frequencies seen{};
    seen[0x00] = 5000; // end of block
    seen[0x01] = 3000;
    seen[0x02] = 800;
    seen[0x11] = 400;
    const media::huffman_code fitted = media::optimal_code(seen);
    const media::huffman_code widened = media::covering_code(fitted, coefficient_kind::ac);
    // 16 runs x 10 sizes, end of block and sixteen zeros.
    EXPECT_EQ(code_count(widened), 162);
    EXPECT_LT(kraft_sum(widened), 65536);
    const auto before = media::code_lengths(fitted);
    const auto after = media::code_lengths(widened);
    for (int symbol = 0; symbol < 256; ++symbol) {
        EXPECT_EQ(after[symbol] > 0, media::is_baseline_symbol(coefficient_kind::ac, symbol))
            << symbol;
        if (before[symbol] > 0) {
            EXPECT_LE(after[symbol], before[symbol] + 1) << "a fitted symbol stays short";
        } else if (after[symbol] > 0) {
            EXPECT_GT(after[symbol], after[0x11]) << "an unseen symbol codes longer";
        }
    }

    media::symbol_frequencies dc{};
    dc[3] = 100;
    dc[4] = 60;
    const media::huffman_code dc_code =
        media::covering_code(media::optimal_code(dc), coefficient_kind::dc);
    EXPECT_EQ(code_count(dc_code), 12);
    EXPECT_EQ(media::code_lengths(dc_code)[12], 0) << "no DC difference of 12 bits at 8 bits";
}

} // namespace
