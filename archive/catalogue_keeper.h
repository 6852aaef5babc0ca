#pragma once
// The recorder's side of the trip catalogue: one background thread that brings the catalogue
// up to the folders at start (trips a crash or a power cut left behind) and adds each trip when
// its camera pane closes, so the GUI thread never waits for an index to be read.

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class catalogue_keeper {
public:
    // Told, on the keeper's thread, what a job that failed ran into; the keeper goes on with
    // the next job, and what a failed job missed the next sync adds.
    using failure_handler = std::function<void(const std::string& what)>;

    explicit catalogue_keeper(failure_handler failed = {});
    // stop(), then waits for the thread: the trips asked for are in the catalogue after it.
    ~catalogue_keeper();
    catalogue_keeper(const catalogue_keeper&) = delete;
    catalogue_keeper& operator=(const catalogue_keeper&) = delete;

    // Syncs the catalogue of write_path, in the background.
    void sync_later(const std::filesystem::path& write_path);
    // Adds a finished trip folder to the catalogue of the folder it lies in, in the background.
    void add_later(const std::filesystem::path& trip_folder);
    // Blocks until everything asked so far is done (tests, and the end of the program).
    void wait_idle();
    // Ends a sync at the next trip and the thread once it has added the trips still asked for:
    // a trip left out is added by the next start's sync.
    void stop();

private:
    struct job {
        bool whole_sync = false;
        std::filesystem::path folder; // write_path for a sync, the trip folder for an add
    };
    void run();
    void do_job(const job& next);

    const failure_handler failed;
    std::mutex jobs_lock; // protects jobs, busy, stopping
    std::condition_variable jobs_changed;
    std::deque<job> jobs;
    bool busy = false;
    bool stopping = false;
    std::thread worker;
};
