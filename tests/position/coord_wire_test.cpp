#include "platform/text.h"
#include "position/coord_wire.h"

#include <clocale>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;

// "Сосновка - Берёзовая" in Windows-1251.
const std::string section_1251 =
    "\xD1\xEE\xF1\xED\xEE\xE2\xEA\xE0 - \xC1\xE5\xF0\xB8\xE7\xEE\xE2\xE0\xFF";

void put(bytes& answer, size_t offset, const std::string& text) {
    std::memcpy(answer.data() + offset, text.data(), text.size());
}

std::optional<position_fix> decode(const bytes& answer) {
    return coord_wire::decode_answer(answer.data(), answer.size());
}

TEST(coord_wire, request_carries_tag_value_narrowed_offset_and_version) {
    const coord_wire::request_bytes request = coord_wire::encode_request(0x01020304, -12.5);
    const bytes expected_head = {'C',  'X',  'Q',  'U',  'E',  'S',  'T',  '2',  0x04, 0x03,
                                 0x02, 0x01, 0x00, 0x00, 0x48, 0xC1, 0x01, 0x00, 0x00, 0x00};
    EXPECT_EQ(bytes(request.begin(), request.begin() + 20), expected_head);
    EXPECT_EQ(bytes(request.begin() + 20, request.end()), bytes(44, 0));

    const coord_wire::request_fields fields =
        coord_wire::decode_request(request.data(), request.size());
    EXPECT_TRUE(fields.tagged);
    EXPECT_EQ(fields.path_sensor_value, 0x01020304);
    EXPECT_EQ(fields.coordinate_offset, -12.5f);
    EXPECT_EQ(fields.version, 1);
}

TEST(coord_wire, fix_flag_zero_means_no_fix_whatever_else_the_answer_holds) {
    bytes answer(1024, 0x41);
    answer[12] = 0;
    EXPECT_FALSE(decode(answer).has_value());
    EXPECT_FALSE(decode(bytes(12, 0x7F)).has_value()); // too short to reach the flag
}

TEST(coord_wire, thirteen_byte_answer_with_a_fix_gives_zeros_and_empty_texts) {
    bytes answer(13, 0);
    answer[8] = 0x2A;
    answer[11] = 0x80;
    answer[12] = 1;
    const auto fix = decode(answer);
    ASSERT_TRUE(fix.has_value());
    EXPECT_EQ(fix->server_value, static_cast<int32_t>(0x8000002Au));
    EXPECT_EQ(fix->abs, 0.0);
    EXPECT_EQ(fix->km, 0);
    EXPECT_EQ(fix->m, 0.0);
    EXPECT_TRUE(fix->dir.empty() && fix->way.empty() && fix->pch.empty() && fix->peregon.empty());
}

TEST(coord_wire, numbers_lie_at_fixed_little_endian_offsets) {
    bytes answer(300, 0);
    answer[12] = 0xFF; // any non-zero flag is a fix
    const double abs = -98765.4375;
    std::memcpy(answer.data() + 13, &abs, 8); // the host is little-endian, as the wire is
    const int32_t km = -99;
    std::memcpy(answer.data() + 21, &km, 4);
    const float m = 234.75f;
    std::memcpy(answer.data() + 25, &m, 4);
    put(answer, 29, "240101");
    put(answer, 125, "1");
    put(answer, 133, "Peregon");
    put(answer, 213, "PCh-7");
    const auto fix = decode(answer);
    ASSERT_TRUE(fix.has_value());
    EXPECT_EQ(fix->abs, abs);
    EXPECT_EQ(fix->km, km);
    EXPECT_EQ(fix->m, 234.75);
    EXPECT_EQ(fix->dir, "240101");
    EXPECT_EQ(fix->way, "1");
    EXPECT_EQ(fix->peregon, "Peregon");
    EXPECT_EQ(fix->pch, "PCh-7");
}

TEST(coord_wire, texts_end_at_the_first_zero_byte_or_the_buffer_end) {
    bytes answer(1024, 0);
    answer[12] = 1;
    put(answer, 125, "12345678"); // fills way's slot: runs on into peregon
    put(answer, 133, "AB");
    std::memset(answer.data() + 213, 'x', 1024 - 213); // pch without a zero byte
    auto fix = decode(answer);
    ASSERT_TRUE(fix.has_value());
    EXPECT_EQ(fix->way, "12345678AB");
    EXPECT_EQ(fix->peregon, "AB");
    EXPECT_EQ(fix->pch, std::string(811, 'x'));

    // Bytes beyond the 1024 the client reads are never part of a text.
    answer.resize(1500, 'y');
    fix = decode(answer);
    ASSERT_TRUE(fix.has_value());
    EXPECT_EQ(fix->pch, std::string(811, 'x'));
}

TEST(coord_wire, encoded_answer_decodes_to_the_same_fix) {
    coord_wire::answer_fields answer;
    answer.unexamined = {1, 2, 3, 4, 5, 6, 7, 8};
    answer.server_value = 77;
    position_fix fix;
    fix.abs = 100012.25;
    fix.km = 100;
    fix.m = 12.25;
    fix.dir = "240100";
    fix.way = "1";
    fix.peregon = section_1251;
    fix.pch = "\xCF\xD7-13";
    answer.fix = fix;
    const bytes encoded = coord_wire::encode_answer(answer);
    EXPECT_EQ(encoded.size(), 213 + fix.pch.size() + 1);
    EXPECT_EQ(bytes(encoded.begin(), encoded.begin() + 8), bytes({1, 2, 3, 4, 5, 6, 7, 8}));
    const auto decoded = decode(encoded);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->server_value, 77);
    EXPECT_EQ(decoded->abs, fix.abs);
    EXPECT_EQ(decoded->km, fix.km);
    EXPECT_EQ(decoded->m, fix.m);
    EXPECT_EQ(decoded->dir, fix.dir);
    EXPECT_EQ(decoded->way, fix.way);
    EXPECT_EQ(decoded->peregon, fix.peregon);
    EXPECT_EQ(decoded->pch, fix.pch);

    answer.fix.reset();
    EXPECT_FALSE(decode(coord_wire::encode_answer(answer)).has_value());
}

TEST(coord_wire, server_texts_decode_to_cyrillic_in_the_c_locale) {
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    EXPECT_EQ(platform::decode_server_text(section_1251), wxString(L"Сосновка - Берёзовая"));
    EXPECT_EQ(platform::decode_server_text("\xCF\xD7-13"), wxString(L"ПЧ-13"));
    // The same text sent as UTF-8 is taken as UTF-8.
    EXPECT_EQ(platform::decode_server_text(u8"Озёрная"), wxString(L"Озёрная"));
}

} // namespace
