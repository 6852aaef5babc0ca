#include "archive/retention_keeper.h"

#include "archive/retention.h"

namespace {

std::optional<uint64_t> available(const std::filesystem::path& folder) {
    std::error_code error;
    const std::filesystem::space_info space = std::filesystem::space(folder, error);
    if (error)
        return std::nullopt;
    return space.available;
}

} // namespace

retention_keeper::retention_keeper(std::filesystem::path write_path, uint64_t keep_free,
                                   std::chrono::milliseconds period)
    : write_path(std::move(write_path)), keep_free(keep_free), period(period),
      worker([this] { run(); }) {}

retention_keeper::~retention_keeper() {
    {
        const std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    wake.notify_all();
    worker.join();
}

void retention_keeper::set_open_trips(std::set<std::string> names) {
    const std::lock_guard<std::mutex> guard(lock);
    open_trips = std::move(names);
}

retention_result retention_keeper::take_news() {
    const std::lock_guard<std::mutex> guard(lock);
    retention_result taken;
    std::swap(taken, news);
    return taken;
}

void retention_keeper::run() {
    std::unique_lock<std::mutex> guard(lock);
    // The first pass comes a period after the start, once the owner has named the open trips.
    wake.wait_for(guard, period, [this] { return stopping; });
    while (!stopping) {
        const std::set<std::string> keep = open_trips;
        guard.unlock();
        retention_result result;
        try {
            result = make_room(write_path, keep_free, keep, available);
        } catch (const std::exception& failure) {
            result.failures.push_back(failure.what());
        }
        const std::set<std::string> failing(result.failures.begin(), result.failures.end());
        guard.lock();
        news.deleted.insert(news.deleted.end(), result.deleted.begin(), result.deleted.end());
        for (const std::string& failure : result.failures)
            if (told_failures.count(failure) == 0)
                news.failures.push_back(failure);
        told_failures = failing;
        wake.wait_for(guard, period, [this] { return stopping; });
    }
}
