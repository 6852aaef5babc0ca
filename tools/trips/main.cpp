// kestrel-trips: the recorded trips for scripts and the office PC. Lists trips, finds every
// pass of every trip at a place, and takes a frame or a clip out of a trip.

#include "archive/trip_offload.h"
#include "offload_commands.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "settings/car_settings.h"
#include "settings/settings_file_store.h"
#include "settings/settings_store.h"
#include "trip_commands.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>
#include <wx/filename.h>
#include <wx/init.h>

namespace {

const char usage[] = R"(Usage: kestrel-trips [--root DIR] COMMAND ...
The trips that Kestrel recorded under a folder, for scripts and the office PC.

Commands:
  list                             CSV of the trips: folder, camera, start, end, frames,
                                   first and last km+m, where its office copy is and when it
                                   was last read back whole (offloaded, verified)
  place PLACE [--within M]         CSV of the frame nearest to PLACE of every pass of every
                                   trip that passed within M metres of it (default 25): folder,
                                   camera, file, frame_in_file, frame, abs, km, m, time, dir, way
  frame TRIP PLACE -o FILE.png     that trip's frame at PLACE, decoded, as a PNG picture
  clip TRIP FROM TO -o FILE.avi    the trip's frames between two places as one AVI, copied
                                   without encoding again (MJPEG: exactly those frames; MPEG-4
                                   and H.264: from the key frame before the first); prints the
                                   records and frames it took
  offload DEST [--dry-run]         copies every finished trip to DEST/<car_name>/<trip>/ with
                                   manifest.sha256 and car.identity, reads each copy back from
                                   DEST's disk before it counts; a copy already there is
                                   skipped, an interrupted or damaged one finished or replaced;
                                   --dry-run lists what would be copied
  verify DEST                      checks every copy under DEST against its manifest, reading
                                   from the disk; lists the missing or damaged ones (exit 1)

PLACE is kilometre and metres (126+740, "126 740", 126+740.5) or an absolute coordinate
(126740, 126740.5). TRIP is a trip folder's name under the root, or its path.

Options:
  --root DIR     the folder the trips are in (default: write_path of the user's settings,
                 ~/Meridian5/config/.kestrel); it must exist. An office archive of several
                 cars (DEST of offload) is read car by car, with a car column
  --within M     how near a frame must be to a place, in metres (default 25)
  -o FILE        the output file; written whole or not at all
  --help         this text

The trips' catalogue is kept in DIR/catalogue.sqlite and brought up to date at every run;
where DIR is a network share or a user-space file system it lives in ~/.cache/kestrel/
($XDG_CACHE_HOME), and where DIR cannot be written it is built in memory (one line on stderr
says so). The car's name for offload is car_name of the settings (default: the host name). Bad input
gives one line on stderr and exit status 1; a wrong command line gives exit status 2.
)";

struct command_line {
    std::optional<std::string> root;
    double within = trip_commands::default_within;
    std::optional<std::string> output;
    bool dry_run = false;
    std::vector<std::string> words;
};

struct usage_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

double parse_within(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value >= 0.0))
        throw usage_error("--within needs a distance in metres, not \"" + text + "\"");
    return value;
}

command_line parse(int argc, char** argv) {
    command_line parsed;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        const bool takes_value = word == "--root" || word == "--within" || word == "-o";
        if (takes_value && i + 1 >= argc)
            throw usage_error(word + " needs a value");
        if (word == "--root")
            parsed.root = argv[++i];
        else if (word == "--within")
            parsed.within = parse_within(argv[++i]);
        else if (word == "-o")
            parsed.output = argv[++i];
        else if (word == "--dry-run")
            parsed.dry_run = true;
        else if (word.size() > 1 && word[0] == '-' &&
                 !std::isdigit(static_cast<unsigned char>(word[1])))
            throw usage_error("unknown option " + word);
        else
            parsed.words.push_back(word);
    }
    return parsed;
}

// The user's settings, as the recorder reads them.
std::unique_ptr<settings_file_store> user_settings() {
    wxFileName file;
    file.AssignDir(platform::home_dir());
    file.AppendDir("Meridian5");
    file.AppendDir("config");
    file.SetFullName(".kestrel");
    return std::make_unique<settings_file_store>(file.GetFullPath());
}

void expect_words(const command_line& line, size_t count, const char* form) {
    if (line.words.size() != count)
        throw usage_error(std::string("usage: kestrel-trips ") + form);
}

std::filesystem::path output_of(const command_line& line, const char* form) {
    if (!line.output)
        throw usage_error(std::string("usage: kestrel-trips ") + form + " (-o is missing)");
    return *line.output;
}

const char commands_named[] = "list, place, frame, clip, offload or verify";

int run(const command_line& line) {
    if (line.words.empty())
        throw usage_error(std::string("no command: ") + commands_named);
    const std::unique_ptr<settings_file_store> settings = user_settings();
    const std::filesystem::path root =
        line.root ? std::filesystem::path(*line.root)
                  : platform::native_path(read_text(*settings, "write_path"));
    std::error_code error;
    if (line.root && !std::filesystem::is_directory(root, error))
        throw trip_command_error("--root " + root.string() + " does not exist or is not a folder");
    const std::string& command = line.words[0];
    if (command == "offload" || command == "verify") {
        const bool offloading = command == "offload";
        expect_words(line, 2, offloading ? "offload DEST [--dry-run]" : "verify DEST");
        offload_commands commands(
            root, car_identity::of_this_machine(read_car_name(*settings).utf8_string()), std::cout,
            ::isatty(STDOUT_FILENO) == 1);
        return offloading ? commands.offload(line.words[1], line.dry_run)
                          : commands.verify(line.words[1]);
    }
    trip_commands commands(root, line.within, std::cout, std::cerr);
    if (command == "list") {
        expect_words(line, 1, "list");
        commands.list();
    } else if (command == "place") {
        expect_words(line, 2, "place PLACE [--within M]");
        commands.place(line.words[1]);
    } else if (command == "frame") {
        const char form[] = "frame TRIP PLACE -o FILE.png";
        expect_words(line, 3, form);
        commands.frame(line.words[1], line.words[2], output_of(line, form));
    } else if (command == "clip") {
        const char form[] = "clip TRIP FROM TO -o FILE.avi";
        expect_words(line, 4, form);
        commands.clip(line.words[1], line.words[2], line.words[3], output_of(line, form));
    } else {
        throw usage_error("unknown command " + command + ": " + commands_named);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0) {
            std::cout << usage;
            return 0;
        }
    const wxInitializer toolkit;
    // A broken file is told in one line of ours, not in FFmpeg's own words too.
    av_log_set_level(AV_LOG_QUIET);
    try {
        return run(parse(argc, argv));
    } catch (const usage_error& error) {
        std::cerr << "kestrel-trips: " << error.what() << "\n";
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "kestrel-trips: " << error.what() << "\n";
        return 1;
    }
}
