#pragma once
// A file written under a temporary name beside its target and given the target's name only
// once it is whole: a failure leaves neither a part of it nor a changed target behind.

#include <filesystem>

class whole_output_file {
public:
    // Throws std::runtime_error when the target's folder is not there.
    explicit whole_output_file(std::filesystem::path target);
    // Removes the temporary file unless keep() gave it the target's name.
    ~whole_output_file();
    whole_output_file(const whole_output_file&) = delete;
    whole_output_file& operator=(const whole_output_file&) = delete;

    // Where to write.
    const std::filesystem::path& temporary() const { return part; }
    // Gives the written file the target's name; throws std::runtime_error when it cannot.
    void keep();

private:
    std::filesystem::path target;
    std::filesystem::path part;
    bool kept = false;
};
