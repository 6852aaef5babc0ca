#pragma once
// The repair of trips a power cut left behind, on a thread of its own at start-up: recording
// started meanwhile (--open) never waits for it. Each repaired trip's row reaches the owner's
// journal as a trip_repair_row_event (text; number 1 for a red row).

#include <atomic>
#include <filesystem>
#include <thread>
#include <wx/event.h>

wxDECLARE_EVENT(trip_repair_row_event, wxThreadEvent);

class trip_repair_worker {
public:
    trip_repair_worker(wxEvtHandler* owner, const std::filesystem::path& write_path);
    // Stops the repair at the next file (the trip under way stays cut, for the next start) and
    // waits for the thread.
    ~trip_repair_worker();
    trip_repair_worker(const trip_repair_worker&) = delete;
    trip_repair_worker& operator=(const trip_repair_worker&) = delete;

private:
    std::atomic<bool> stopping{false};
    std::thread worker;
};
