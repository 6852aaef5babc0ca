#include "archive/car_identity.h"

#include "platform/file_copy.h"

#include <sstream>

std::string car_identity::text() const {
    return "car_name=" + car_name + "\nmachine_id=" + machine_id + "\n";
}

std::optional<car_identity> car_identity::parse(const std::string& text) {
    car_identity identity;
    bool named = false;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "car_name") {
            identity.car_name = value;
            named = true;
        } else if (key == "machine_id") {
            identity.machine_id = value;
        }
    }
    if (!named || identity.car_name.empty())
        return std::nullopt;
    return identity;
}

std::string car_identity::described() const {
    return "\"" + car_name + "\" (machine " + (machine_id.empty() ? "unknown" : machine_id) + ")";
}

car_identity car_identity::of_this_machine(const std::string& car_name) {
    car_identity identity;
    identity.car_name = car_name.empty() ? platform::host_name() : car_name;
    if (identity.car_name.empty())
        identity.car_name = "car";
    identity.machine_id = platform::machine_id();
    return identity;
}
