#pragma once
// The recorder's retention: a background thread that keeps free space at write_path above the
// limit by deleting offloaded trips (archive/retention.h), so the GUI and capture threads never
// wait for a folder to be removed. What it did comes back as journal rows, taken by the GUI
// thread.

#include "archive/retention.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

class retention_keeper {
public:
    // Makes a pass every `period`, the first one a period after the start.
    retention_keeper(std::filesystem::path write_path, uint64_t keep_free,
                     std::chrono::milliseconds period = std::chrono::seconds(5));
    // Stops the thread and waits for it (a deletion under way is finished first).
    ~retention_keeper();
    retention_keeper(const retention_keeper&) = delete;
    retention_keeper& operator=(const retention_keeper&) = delete;

    // The names of the trip folders in use (cameras write them, the trip pane shows them):
    // never deleted, whatever their mark says.
    void set_open_trips(std::set<std::string> names);
    // What was deleted, and what failed, since the last call, oldest first. A failure that
    // repeats pass after pass is told once.
    retention_result take_news();
    uint64_t limit() const { return keep_free; }

private:
    void run();

    const std::filesystem::path write_path;
    const uint64_t keep_free;
    const std::chrono::milliseconds period;
    std::mutex lock; // protects open_trips, news, stopping
    std::condition_variable wake;
    std::set<std::string> open_trips;
    retention_result news;
    std::set<std::string> told_failures; // the worker's own
    bool stopping = false;
    std::thread worker;
};
