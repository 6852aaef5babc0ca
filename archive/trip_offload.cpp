#include "archive/trip_offload.h"

#include "archive/offload_log.h"
#include "archive/sha256_digest.h"
#include "archive/trip_contents.h"
#include "archive/trip_repair.h"
#include "platform/file_copy.h"
#include "trip_format/trip_write_mark.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// What a temporary folder has done so far: one line per file copied, synced and hashed, so a
// killed offload is finished without copying those again.
constexpr const char* progress_file = ".copied";
constexpr size_t piece_size = 1 << 20;

// DEST's own failure, told in its words: the whole run ends.
[[noreturn]] void destination_failed(const fs::path& destination, const std::string& doing,
                                     int code) {
    if (code == EROFS || code == EACCES || code == EPERM)
        throw offload_error(destination.string() + " is read-only (" + doing + ")");
    if (code == ENOSPC || code == EDQUOT)
        throw offload_error(destination.string() + " is full (" + doing + ")");
    throw offload_error("cannot write " + destination.string() + " (" + doing +
                        "): " + std::strerror(code));
}

class descriptor {
public:
    explicit descriptor(int handle) : handle(handle) {}
    ~descriptor() {
        if (handle >= 0)
            ::close(handle);
    }
    descriptor(const descriptor&) = delete;
    descriptor& operator=(const descriptor&) = delete;
    int get() const { return handle; }

private:
    int handle;
};

// A failure reading the car's own disk: this trip is refused, the run goes on.
struct source_failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string sum_of_text(const std::string& text) {
    sha256_digest digest;
    digest.add(text.data(), text.size());
    return digest.finish();
}

} // namespace

std::string trip_offload::folder_name_of(const std::string& car_name) {
    std::string name;
    for (const char c : car_name)
        name += (c == '/' || c == '\\' || c == '\0' || c == '\n' || c == ':') ? '_' : c;
    if (name.empty() || name == "." || name == "..")
        name = "car";
    if (name[0] == '.')
        name[0] = '_';
    return name;
}

trip_offload::trip_offload(fs::path write_path, fs::path destination, car_identity car,
                           offload_log& log, offload_listener listener)
    : write_path(std::move(write_path)), destination(std::move(destination)),
      cars_folder(this->destination / folder_name_of(car.car_name)), car(std::move(car)), log(log),
      listener(std::move(listener)) {}

void trip_offload::check_destination() {
    std::error_code error;
    if (!fs::is_directory(destination, error))
        throw offload_error(destination.string() + " does not exist or is not a folder");
    if (fs::is_directory(cars_folder, error))
        return;
    if (::mkdir(cars_folder.c_str(), 0755) != 0 && errno != EEXIST)
        destination_failed(destination, "making " + cars_folder.filename().string(), errno);
    platform::sync_path(destination);
}

std::vector<offload_result> trip_offload::run(bool dry_run) {
    std::error_code error;
    if (!fs::is_directory(destination, error))
        throw offload_error(destination.string() + " does not exist or is not a folder");
    if (!dry_run)
        check_destination();
    else if (::access(destination.c_str(), W_OK) != 0)
        destination_failed(destination, "checking it", errno);
    std::vector<offload_result> results;
    for (const fs::path& trip : trip_folders_under(write_path)) {
        offload_result result = offload(trip, dry_run);
        if (listener.trip_done)
            listener.trip_done(result);
        results.push_back(std::move(result));
    }
    return results;
}

void trip_offload::check_identity(const fs::path& folder, const std::string& trip) const {
    const std::optional<car_identity> found =
        car_identity::parse(small_file_text(folder / car_identity::file_name));
    if (!found)
        throw std::runtime_error(trip + ": " + folder.string() +
                                 " is there without a car's identity; it is left as it is");
    if (*found != car)
        throw std::runtime_error(trip + ": " + folder.string() + " belongs to car " +
                                 found->described() + ", not to this car " + car.described() +
                                 "; it is left as it is");
}

namespace {

trip_manifest hash_source(const fs::path& trip, const std::vector<trip_file>& files) {
    trip_manifest manifest;
    std::vector<char> buffer(piece_size);
    sha256_digest digest;
    for (const trip_file& file : files) {
        std::ifstream in(trip / file.name, std::ios::binary);
        if (!in)
            throw source_failure("cannot read " + (trip / file.name).string());
        while (in) {
            in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            digest.add(buffer.data(), static_cast<size_t>(in.gcount()));
        }
        if (in.bad())
            throw source_failure("cannot read " + (trip / file.name).string());
        manifest.sums[file.name] = digest.finish();
    }
    return manifest;
}

struct copied_file {
    std::string sum;
    uint64_t size = 0;
    int64_t modified_ns = 0;
};

std::map<std::string, copied_file> copied_so_far(const fs::path& temp) {
    std::map<std::string, copied_file> copied;
    std::istringstream lines(small_file_text(temp / progress_file));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        copied_file file;
        std::string name;
        if (fields >> file.sum >> file.size >> file.modified_ns && fields.get() == ' ' &&
            std::getline(fields, name) && !name.empty())
            copied[name] = file;
    }
    return copied;
}

} // namespace

bool trip_offload::copy_matches(const std::string& name, const fs::path& final_folder,
                                const trip_manifest& source) const {
    std::error_code error;
    if (fs::exists(final_folder / damaged_mark, error))
        return false;
    const std::string manifest_text = small_file_text(final_folder / trip_manifest::file_name);
    const std::optional<trip_manifest> there = trip_manifest::parse(manifest_text);
    if (!there || *there != source)
        return false;
    // Every file still there at its size: a copy someone cut short does not count.
    for (const trip_file& file : files_of_trip(write_path / name)) {
        if (fs::file_size(final_folder / file.name, error) != file.size || error)
            return false;
    }
    // The catalogue has no record of this copy being read back whole: it is read back now.
    return check_copy(final_folder, source).empty();
}

trip_manifest trip_offload::copy_into(const fs::path& trip, const fs::path& temp, uint64_t bytes) {
    const std::vector<trip_file> files = files_of_trip(trip);
    std::map<std::string, copied_file> done = copied_so_far(temp);
    trip_manifest manifest;
    descriptor progress(
        ::open((temp / progress_file).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (progress.get() < 0)
        destination_failed(destination, "writing in " + temp.filename().string(), errno);
    std::vector<char> buffer(piece_size);
    uint64_t moved = 0;
    for (const trip_file& file : files) {
        const auto earlier = done.find(file.name);
        std::error_code error;
        if (earlier != done.end() && earlier->second.size == file.size &&
            earlier->second.modified_ns == file.modified_ns &&
            fs::file_size(temp / file.name, error) == file.size && !error) {
            manifest.sums[file.name] = earlier->second.sum;
            moved += file.size;
            if (listener.progress)
                listener.progress(moved, 2 * bytes);
            continue;
        }
        const descriptor in(::open((trip / file.name).c_str(), O_RDONLY | O_CLOEXEC));
        if (in.get() < 0)
            throw source_failure("cannot read " + (trip / file.name).string() + ": " +
                                 std::strerror(errno));
        const fs::path target = temp / file.name;
        const descriptor out(
            ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (out.get() < 0)
            destination_failed(destination, "making " + target.string(), errno);
        sha256_digest digest;
        for (;;) {
            const ssize_t got = ::read(in.get(), buffer.data(), buffer.size());
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                throw source_failure("cannot read " + (trip / file.name).string() + ": " +
                                     std::strerror(errno));
            if (got == 0)
                break;
            digest.add(buffer.data(), static_cast<size_t>(got));
            for (ssize_t written = 0; written < got;) {
                const ssize_t put =
                    ::write(out.get(), buffer.data() + written, static_cast<size_t>(got - written));
                if (put < 0 && errno == EINTR)
                    continue;
                if (put <= 0)
                    destination_failed(destination, "writing " + target.string(),
                                       put < 0 ? errno : ENOSPC);
                written += put;
            }
            moved += static_cast<uint64_t>(got);
            if (listener.progress)
                listener.progress(moved, 2 * bytes);
        }
        if (::fsync(out.get()) != 0)
            destination_failed(destination, "syncing " + target.string(), errno);
        manifest.sums[file.name] = digest.finish();
        const std::string line = manifest.sums[file.name] + " " + std::to_string(file.size) + " " +
                                 std::to_string(file.modified_ns) + " " + file.name + "\n";
        if (::write(progress.get(), line.data(), line.size()) !=
                static_cast<ssize_t>(line.size()) ||
            ::fsync(progress.get()) != 0)
            destination_failed(destination, "writing in " + temp.filename().string(), errno);
    }
    if (!platform::sync_path(temp))
        destination_failed(destination, "syncing " + temp.string(), errno);
    return manifest;
}

std::string trip_offload::read_back(const fs::path& temp, const trip_manifest& expected,
                                    uint64_t bytes) {
    uint64_t checked = bytes;
    for (const auto& [name, sum] : expected.sums) {
        sha256_digest digest;
        const bool read = platform::read_from_disk(temp / name, [&](const char* piece, size_t n) {
            digest.add(piece, n);
            checked += n;
            if (listener.progress)
                listener.progress(checked, 2 * bytes);
        });
        if (!read)
            return name + " cannot be read back";
        if (digest.finish() != sum)
            return name + " read back different from the car's file";
    }
    return {};
}

namespace {

void write_synced(const fs::path& path, const std::string& text, const fs::path& destination) {
    const descriptor out(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (out.get() < 0)
        destination_failed(destination, "making " + path.string(), errno);
    if (::write(out.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        destination_failed(destination, "writing " + path.string(), errno ? errno : ENOSPC);
    if (::fsync(out.get()) != 0)
        destination_failed(destination, "syncing " + path.string(), errno);
}

void rename_or_fail(const fs::path& from, const fs::path& to, const fs::path& destination) {
    if (::rename(from.c_str(), to.c_str()) != 0)
        destination_failed(destination, "renaming " + from.string(), errno);
}

} // namespace

void trip_offload::put_in_place(const fs::path& temp, const fs::path& final_folder) {
    std::error_code error;
    const fs::path aside =
        final_folder.parent_path() / ("." + final_folder.filename().string() + aside_suffix);
    const bool replacing = fs::exists(final_folder, error);
    if (replacing) {
        fs::remove_all(aside, error);
        rename_or_fail(final_folder, aside, destination);
    }
    rename_or_fail(temp, final_folder, destination);
    platform::sync_path(cars_folder);
    if (replacing)
        fs::remove_all(aside, error);
}

offload_result trip_offload::offload(const fs::path& trip, bool dry_run) {
    const auto started = std::chrono::steady_clock::now();
    offload_result result;
    result.trip = trip.filename().string();
    trip_format::trip_state state = trip_format::state_of_trip(trip);
    if (state == trip_format::trip_state::cut && dry_run) {
        result.outcome = offload_outcome::would_copy;
        result.repaired = true;
        return result;
    }
    if (state == trip_format::trip_state::cut) {
        const archive::trip_repair_report repair = archive::repair_trip(trip);
        result.repaired = repair.complete() && !repair.folder.empty();
        if (!result.repaired)
            result.why = repair.row();
        state = trip_format::state_of_trip(trip);
    }
    if (state != trip_format::trip_state::finished) {
        result.outcome = state == trip_format::trip_state::cut ? offload_outcome::cut
                                                               : offload_outcome::being_written;
        return result;
    }
    const fs::path final_folder = cars_folder / result.trip;
    const fs::path temp = cars_folder / ("." + result.trip + partial_suffix);
    const fs::path aside = cars_folder / ("." + result.trip + aside_suffix);
    std::error_code error;
    try {
        // A replacement cut short between its two renames: the old copy goes back first.
        if (!dry_run && fs::exists(aside, error) && !fs::exists(final_folder, error))
            rename_or_fail(aside, final_folder, destination);
        const std::vector<trip_file> files = files_of_trip(trip);
        const std::string stamp = stamp_of_files(files);
        result.bytes = total_size(files);
        const bool there = fs::exists(final_folder, error);
        if (there)
            check_identity(final_folder, result.trip);
        if (fs::exists(temp, error) && fs::exists(temp / car_identity::file_name, error))
            check_identity(temp, result.trip);

        if (there) {
            const std::optional<offload_entry> known = log.entry(result.trip);
            const std::string manifest_text =
                small_file_text(final_folder / trip_manifest::file_name);
            const bool known_match = known && known->source_stamp == stamp &&
                                     known->manifest_sum == sum_of_text(manifest_text) &&
                                     known->destination == final_folder.string() &&
                                     !fs::exists(final_folder / damaged_mark, error);
            if (known_match || copy_matches(result.trip, final_folder, hash_source(trip, files))) {
                result.outcome = offload_outcome::already_there;
                if (!known_match && !dry_run)
                    log.record({result.trip, final_folder.string(), sum_of_text(manifest_text),
                                stamp, static_cast<int64_t>(std::time(nullptr))});
                return result;
            }
        }
        if (dry_run) {
            result.outcome = offload_outcome::would_copy;
            return result;
        }
        const bool finishing = fs::exists(temp / progress_file, error);
        if (listener.trip_started)
            listener.trip_started(result.trip, result.bytes);
        if (!fs::exists(temp, error) && ::mkdir(temp.c_str(), 0755) != 0)
            destination_failed(destination, "making " + temp.string(), errno);
        write_synced(temp / car_identity::file_name, car.text(), destination);
        const trip_manifest manifest = copy_into(trip, temp, result.bytes);
        const std::string wrong = read_back(temp, manifest, result.bytes);
        if (!wrong.empty()) {
            fs::remove_all(temp, error);
            result.outcome = offload_outcome::refused;
            result.why = result.trip + ": " + wrong + "; nothing counted";
            return result;
        }
        const std::string manifest_text = manifest.text();
        write_synced(temp / trip_manifest::file_name, manifest_text, destination);
        fs::remove(temp / progress_file, error);
        if (!platform::sync_path(temp))
            destination_failed(destination, "syncing " + temp.string(), errno);
        put_in_place(temp, final_folder);
        // A trip changed while it was copied is copied again next time.
        log.record({result.trip, final_folder.string(), sum_of_text(manifest_text), stamp,
                    static_cast<int64_t>(std::time(nullptr))});
        result.outcome = there       ? offload_outcome::replaced
                         : finishing ? offload_outcome::finished
                                     : offload_outcome::copied;
    } catch (const offload_error&) {
        if (!dry_run) {
            // A full DEST gets its room back; the next offload starts this trip afresh.
            std::error_code ignored;
            fs::remove_all(temp, ignored);
        }
        throw;
    } catch (const source_failure& failure) {
        result.outcome = offload_outcome::refused;
        result.why = result.trip + ": " + failure.what();
    } catch (const std::runtime_error& failure) {
        result.outcome = offload_outcome::refused;
        result.why = failure.what();
    }
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return result;
}

std::vector<std::string> check_copy(const fs::path& folder, const trip_manifest& manifest) {
    std::vector<std::string> problems;
    for (const auto& [name, sum] : manifest.sums) {
        sha256_digest digest;
        const bool read = platform::read_from_disk(
            folder / name, [&](const char* piece, size_t n) { digest.add(piece, n); });
        if (!read)
            problems.push_back(name + " is missing or cannot be read");
        else if (digest.finish() != sum)
            problems.push_back(name + " does not match the manifest");
    }
    return problems;
}
