#include "archive/catalogue_keeper.h"

#include "archive/trip_catalogue.h"

catalogue_keeper::catalogue_keeper(failure_handler failed)
    : failed(std::move(failed)), worker([this] { run(); }) {}

catalogue_keeper::~catalogue_keeper() {
    stop();
    worker.join();
}

void catalogue_keeper::sync_later(const std::filesystem::path& write_path) {
    const std::lock_guard<std::mutex> lock(jobs_lock);
    jobs.push_back({true, write_path});
    jobs_changed.notify_all();
}

void catalogue_keeper::add_later(const std::filesystem::path& trip_folder) {
    const std::lock_guard<std::mutex> lock(jobs_lock);
    jobs.push_back({false, trip_folder});
    jobs_changed.notify_all();
}

void catalogue_keeper::wait_idle() {
    std::unique_lock<std::mutex> lock(jobs_lock);
    jobs_changed.wait(lock, [this] { return jobs.empty() && !busy; });
}

void catalogue_keeper::stop() {
    const std::lock_guard<std::mutex> lock(jobs_lock);
    stopping = true;
    jobs_changed.notify_all();
}

void catalogue_keeper::run() {
    std::unique_lock<std::mutex> lock(jobs_lock);
    for (;;) {
        jobs_changed.wait(lock, [this] { return stopping || !jobs.empty(); });
        if (jobs.empty())
            return;
        const job next = jobs.front();
        jobs.pop_front();
        busy = true;
        lock.unlock();
        do_job(next);
        lock.lock();
        busy = false;
        jobs_changed.notify_all();
    }
}

void catalogue_keeper::do_job(const job& next) {
    try {
        if (next.whole_sync) {
            trip_catalogue catalogue(next.folder);
            // A catalogue only in memory would be thrown away at once.
            if (!catalogue.in_memory())
                catalogue.sync([this] {
                    const std::lock_guard<std::mutex> lock(jobs_lock);
                    return !stopping;
                });
        } else {
            // A writer that never made its folder leaves nothing to add.
            std::error_code missing;
            if (!std::filesystem::is_directory(next.folder, missing))
                return;
            trip_catalogue catalogue(next.folder.parent_path());
            if (!catalogue.in_memory())
                catalogue.add_trip(next.folder);
        }
    } catch (const std::exception& failure) {
        if (failed)
            failed(failure.what());
    }
}
