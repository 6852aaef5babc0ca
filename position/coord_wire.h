#pragma once
// The coordinate server's wire format: a 64-byte request tagged "CXQUEST2" and an answer of up
// to 1024 bytes. Pure functions over bytes, free of the toolkit and of the network library, so
// the client, the simulator and the fuzz targets share one definition. All numbers are
// little-endian, floating-point numbers IEEE 754, fields at fixed offsets without padding.

#include "position/position_fix.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace coord_wire {

constexpr size_t request_size = 64;
constexpr size_t answer_capacity = 1024;

using request_bytes = std::array<uint8_t, request_size>;

// Offsets of the answer's fields.
constexpr size_t server_value_offset = 8;
constexpr size_t fix_flag_offset = 12;
constexpr size_t abs_offset = 13;
constexpr size_t km_offset = 21;
constexpr size_t m_offset = 25;
constexpr size_t dir_offset = 29;
constexpr size_t way_offset = 125;
constexpr size_t peregon_offset = 133;
constexpr size_t pch_offset = 213;

// The request: tag, path-sensor value, the camera's coordinate offset narrowed to 32 bits, 1.
request_bytes encode_request(int32_t path_sensor_value, double coordinate_offset);

// The fix an answer carries, or nothing when its fix flag (byte 12) is 0. Only the first
// answer_capacity bytes count; bytes the server did not send count as zero. Each text runs
// from its offset to the first zero byte, or to the end of the 1024 bytes.
std::optional<position_fix> decode_answer(const uint8_t* data, size_t size);

// What a server reads from a request.
struct request_fields {
    bool tagged = false; // the first eight bytes are "CXQUEST2"
    int32_t path_sensor_value = 0;
    float coordinate_offset = 0.0f;
    int32_t version = 0; // 1 from every client of this system
};

// The fields of a request; a shorter buffer counts as padded with zero bytes.
request_fields decode_request(const uint8_t* data, size_t size);

// What a server puts into an answer.
struct answer_fields {
    std::array<uint8_t, 8> unexamined{}; // bytes 0-7, free for the server's own use
    int32_t server_value = 0;
    std::optional<position_fix> fix; // no fix when empty
};

// An answer as a server sends it: up to the zero byte after `pch`. A text longer than its slot
// is cut at the slot's end and then runs on into the next field, as the format allows.
std::vector<uint8_t> encode_answer(const answer_fields& answer);

} // namespace coord_wire
