#pragma once
// Which car a trip came from: the car's name (the setting car_name) and the machine's lasting
// id. An offloaded trip carries it in "car.identity" beside its manifest, so a copy is never
// overwritten by another car's trip of the same name.

#include <optional>
#include <string>

struct car_identity {
    static constexpr const char* file_name = "car.identity";

    std::string car_name;   // UTF-8
    std::string machine_id; // empty when the system has none

    // "car_name=...\nmachine_id=...\n"
    std::string text() const;
    // Nothing when the text lacks car_name.
    static std::optional<car_identity> parse(const std::string& text);
    // "Котел-2 (machine 3f2a...)" for messages.
    std::string described() const;

    bool operator==(const car_identity& other) const {
        return car_name == other.car_name && machine_id == other.machine_id;
    }
    bool operator!=(const car_identity& other) const { return !(*this == other); }

    // This machine, under the given car_name (empty: the host name).
    static car_identity of_this_machine(const std::string& car_name);
};
