#include "position/coord_wire.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace coord_wire {

namespace {

constexpr char request_tag[] = "CXQUEST2";
constexpr size_t tag_size = 8;
constexpr int32_t request_version = 1;

constexpr size_t dir_slot = way_offset - dir_offset;
constexpr size_t way_slot = peregon_offset - way_offset;
constexpr size_t peregon_slot = pch_offset - peregon_offset;
constexpr size_t pch_slot = answer_capacity - pch_offset;

void put_u32(uint8_t* at, uint32_t value) {
    for (size_t i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

void put_u64(uint8_t* at, uint64_t value) {
    for (size_t i = 0; i < 8; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t get_u32(const uint8_t* at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(at[i]) << (8 * i);
    return value;
}

uint64_t get_u64(const uint8_t* at) {
    uint64_t value = 0;
    for (size_t i = 0; i < 8; ++i)
        value |= static_cast<uint64_t>(at[i]) << (8 * i);
    return value;
}

void put_float(uint8_t* at, float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    put_u32(at, bits);
}

void put_double(uint8_t* at, double value) {
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    put_u64(at, bits);
}

float get_float(const uint8_t* at) {
    const uint32_t bits = get_u32(at);
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

double get_double(const uint8_t* at) {
    const uint64_t bits = get_u64(at);
    double value = 0.0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// The bytes from `offset` up to the first zero byte or the end of the buffer.
std::string get_text(const std::array<uint8_t, answer_capacity>& buffer, size_t offset) {
    const auto begin = buffer.begin() + static_cast<std::ptrdiff_t>(offset);
    const auto end = std::find(begin, buffer.end(), uint8_t{0});
    return std::string(begin, end);
}

void put_text(std::vector<uint8_t>& answer, size_t offset, size_t slot, const std::string& text) {
    const size_t length = std::min(text.size(), slot);
    std::copy_n(text.begin(), length, answer.begin() + static_cast<std::ptrdiff_t>(offset));
}

} // namespace

request_bytes encode_request(int32_t path_sensor_value, double coordinate_offset) {
    request_bytes request{};
    std::memcpy(request.data(), request_tag, tag_size);
    put_u32(request.data() + 8, static_cast<uint32_t>(path_sensor_value));
    put_float(request.data() + 12, static_cast<float>(coordinate_offset));
    put_u32(request.data() + 16, static_cast<uint32_t>(request_version));
    return request;
}

std::optional<position_fix> decode_answer(const uint8_t* data, size_t size) {
    std::array<uint8_t, answer_capacity> buffer{};
    std::copy_n(data, std::min(size, answer_capacity), buffer.begin());
    if (buffer[fix_flag_offset] == 0)
        return std::nullopt;
    position_fix fix;
    fix.server_value = static_cast<int32_t>(get_u32(buffer.data() + server_value_offset));
    fix.abs = get_double(buffer.data() + abs_offset);
    fix.km = static_cast<int32_t>(get_u32(buffer.data() + km_offset));
    fix.m = static_cast<double>(get_float(buffer.data() + m_offset));
    fix.dir = get_text(buffer, dir_offset);
    fix.way = get_text(buffer, way_offset);
    fix.peregon = get_text(buffer, peregon_offset);
    fix.pch = get_text(buffer, pch_offset);
    return fix;
}

request_fields decode_request(const uint8_t* data, size_t size) {
    request_bytes request{};
    std::copy_n(data, std::min(size, request_size), request.begin());
    request_fields fields;
    fields.tagged = std::memcmp(request.data(), request_tag, tag_size) == 0;
    fields.path_sensor_value = static_cast<int32_t>(get_u32(request.data() + 8));
    fields.coordinate_offset = get_float(request.data() + 12);
    fields.version = static_cast<int32_t>(get_u32(request.data() + 16));
    return fields;
}

std::vector<uint8_t> encode_answer(const answer_fields& answer) {
    const size_t pch_length = answer.fix ? std::min(answer.fix->pch.size(), pch_slot) : 0;
    // Room for pch's zero byte unless pch fills the buffer to its end.
    std::vector<uint8_t> bytes(std::min(pch_offset + pch_length + 1, answer_capacity), 0);
    std::copy(answer.unexamined.begin(), answer.unexamined.end(), bytes.begin());
    put_u32(bytes.data() + server_value_offset, static_cast<uint32_t>(answer.server_value));
    if (!answer.fix)
        return bytes;
    const position_fix& fix = *answer.fix;
    bytes[fix_flag_offset] = 1;
    put_double(bytes.data() + abs_offset, fix.abs);
    put_u32(bytes.data() + km_offset, static_cast<uint32_t>(fix.km));
    put_float(bytes.data() + m_offset, static_cast<float>(fix.m));
    put_text(bytes, dir_offset, dir_slot, fix.dir);
    put_text(bytes, way_offset, way_slot, fix.way);
    put_text(bytes, peregon_offset, peregon_slot, fix.peregon);
    put_text(bytes, pch_offset, pch_slot, fix.pch);
    return bytes;
}

} // namespace coord_wire
