#pragma once
// The four texts the coordinate server gives with a fix: direction, track, distance and
// section. UTF-8; all empty where they are not known (a trip recorded without route.csv, or
// frames before the trip's first fix).

#include <string>

struct route_texts {
    std::string dir;
    std::string way;
    std::string pch;
    std::string peregon;

    bool known() const { return !dir.empty() || !way.empty() || !pch.empty() || !peregon.empty(); }
    bool operator==(const route_texts& other) const {
        return dir == other.dir && way == other.way && pch == other.pch && peregon == other.peregon;
    }
    bool operator!=(const route_texts& other) const { return !(*this == other); }
};
