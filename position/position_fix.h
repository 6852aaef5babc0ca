#pragma once
// The fields of one coordinate-server answer that carries a fix. Plain data, free of the
// toolkit, so the wire codec can be built and fuzzed on its own.

#include <cstdint>
#include <string>

struct position_fix {
    int32_t server_value = 0;
    double abs = 0.0;
    int32_t km = 0;
    double m = 0.0;
    std::string dir;
    std::string way;
    std::string pch;
    std::string peregon;
};
