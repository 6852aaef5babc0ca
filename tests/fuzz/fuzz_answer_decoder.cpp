// Any bytes a server may send must decode without reading outside the answer buffer, and a
// fix's texts must stay within the bytes the client reads.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "position/coord_wire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto fix = coord_wire::decode_answer(data, size);
    const bool flagged = size > coord_wire::fix_flag_offset && data[coord_wire::fix_flag_offset];
    if (fix.has_value() != flagged)
        std::abort();
    if (fix && (fix->dir.size() > coord_wire::answer_capacity - coord_wire::dir_offset ||
                fix->pch.size() > coord_wire::answer_capacity - coord_wire::pch_offset))
        std::abort();
    const coord_wire::request_fields request = coord_wire::decode_request(data, size);
    const auto again = coord_wire::encode_request(request.path_sensor_value,
                                                  static_cast<double>(request.coordinate_offset));
    if (coord_wire::decode_request(again.data(), again.size()).path_sensor_value !=
        request.path_sensor_value)
        std::abort();
    return 0;
}
