#include "archive/trip_contents.h"

#include "archive/trip_catalogue.h"
#include "trip_format/trip_files.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace fs = std::filesystem;

std::vector<trip_file> files_of_trip(const fs::path& folder) {
    std::vector<trip_file> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        struct stat status {};
        if (::lstat(entry.path().c_str(), &status) != 0 || !S_ISREG(status.st_mode))
            continue;
        trip_file file;
        file.name = entry.path().filename().string();
        file.size = static_cast<uint64_t>(status.st_size);
        file.modified_ns =
            static_cast<int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
        files.push_back(file);
    }
    std::sort(files.begin(), files.end(),
              [](const trip_file& a, const trip_file& b) { return a.name < b.name; });
    return files;
}

std::string stamp_of_files(const std::vector<trip_file>& files) {
    std::string stamp;
    for (const trip_file& file : files)
        stamp += file.name + " " + std::to_string(file.size) + " " +
                 std::to_string(file.modified_ns) + "\n";
    return stamp;
}

uint64_t total_size(const std::vector<trip_file>& files) {
    uint64_t total = 0;
    for (const trip_file& file : files)
        total += file.size;
    return total;
}

std::string small_file_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<fs::path> trip_folders_under(const fs::path& folder) {
    struct dated {
        std::string started;
        fs::path path;
    };
    std::vector<dated> found;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        std::string camera, started;
        if (entry->is_directory(error) &&
            parse_trip_folder_name(entry->path().filename().string(), camera, started))
            found.push_back({started, entry->path()});
    }
    std::sort(found.begin(), found.end(), [](const dated& a, const dated& b) {
        return a.started != b.started ? a.started < b.started : a.path < b.path;
    });
    std::vector<fs::path> folders;
    for (dated& trip : found)
        folders.push_back(std::move(trip.path));
    return folders;
}
