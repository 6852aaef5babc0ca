#include "route.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <string>

namespace coordsim {

namespace {

struct station {
    const char* name;
    double gap_to_next_km;
};

// One stretch of the line; the car runs it over and over, each lap further along.
constexpr std::array<station, 12> stations{{
    {"Сосновка", 7.4},
    {"Берёзовая", 11.2},
    {"Каменный Брод", 9.0},
    {"Озёрная", 13.6},
    {"Липецкая", 6.8},
    {"Дубрава", 10.5},
    {"Заречье", 8.3},
    {"Светлый Яр", 12.1},
    {"Красная Горка", 9.7},
    {"Белый Ключ", 7.9},
    {"Ольховка", 11.8},
    {"Рябиновка", 10.2},
}};

constexpr double distance_length_m = 60000.0;
constexpr double direction_length_m = 150000.0;
constexpr int first_distance = 12;
constexpr int first_direction_code = 240100;

double lap_length_m() {
    double total = 0.0;
    for (const station& s : stations)
        total += s.gap_to_next_km * 1000.0;
    return total;
}

std::string section_at(double abs) {
    const double lap = lap_length_m();
    double along = std::fmod(abs, lap);
    if (along < 0.0)
        along += lap;
    size_t index = 0;
    while (along >= stations[index].gap_to_next_km * 1000.0) {
        along -= stations[index].gap_to_next_km * 1000.0;
        index = (index + 1) % stations.size();
    }
    return std::string(stations[index].name) + " - " + stations[(index + 1) % stations.size()].name;
}

std::string formatted(const char* format, long value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

position_fix route_position(double abs, double scale) {
    position_fix fix;
    fix.abs = abs;
    const double km = std::floor(abs / 1000.0);
    fix.km = static_cast<int32_t>(km);
    fix.m = abs - km * 1000.0;
    // The texts are those of the place the scaled line puts here.
    abs /= scale;
    const long direction = static_cast<long>(std::floor(abs / direction_length_m));
    fix.dir = formatted("%06ld", first_direction_code + direction);
    // A double-track line: the car keeps to track 1 or 2 depending on the direction section.
    fix.way = direction % 2 == 0 ? "1" : "2";
    fix.pch = formatted("ПЧ-%ld",
                        first_distance + static_cast<long>(std::floor(abs / distance_length_m)));
    fix.peregon = section_at(abs);
    return fix;
}

} // namespace coordsim
