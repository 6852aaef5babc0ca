// kestrel-trips: the recorded trips for scripts and the office PC. Lists trips, finds every
// pass of every trip at a place, and takes a frame or a clip out of a trip.

#include "platform/paths.h"
#include "platform/text.h"
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
#include <optional>
#include <string>
#include <vector>
#include <wx/filename.h>
#include <wx/init.h>

namespace {

const char usage[] = R"(Usage: kestrel-trips [--root DIR] COMMAND ...
The trips that Kestrel recorded under a folder, for scripts and the office PC.

Commands:
  list                             CSV of the trips: folder, camera, start, end, frames,
                                   first and last km+m
  place PLACE [--within M]         CSV of the frame nearest to PLACE of every pass of every
                                   trip that passed within M metres of it (default 25): folder,
                                   camera, file, frame_in_file, frame, abs, km, m, time, dir, way
  frame TRIP PLACE -o FILE.png     that trip's frame at PLACE, decoded, as a PNG picture
  clip TRIP FROM TO -o FILE.avi    the trip's frames between two places as one AVI, copied
                                   without encoding again (MJPEG: exactly those frames; MPEG-4
                                   and H.264: from the key frame before the first); prints the
                                   records and frames it took

PLACE is kilometre and metres (126+740, "126 740", 126+740.5) or an absolute coordinate
(126740, 126740.5). TRIP is a trip folder's name under the root, or its path.

Options:
  --root DIR     the folder the trips are in (default: write_path of the user's settings,
                 ~/Meridian5/config/.kestrel)
  --within M     how near a frame must be to a place, in metres (default 25)
  -o FILE        the output file; written whole or not at all
  --help         this text

The trips' catalogue is kept in DIR/catalogue.sqlite and brought up to date at every run;
where DIR cannot be written it is built in memory (one line on stderr says so). Bad input
gives one line on stderr and exit status 1; a wrong command line gives exit status 2.
)";

struct command_line {
    std::optional<std::string> root;
    double within = trip_commands::default_within;
    std::optional<std::string> output;
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
        else if (word.size() > 1 && word[0] == '-' &&
                 !std::isdigit(static_cast<unsigned char>(word[1])))
            throw usage_error("unknown option " + word);
        else
            parsed.words.push_back(word);
    }
    return parsed;
}

// write_path of the user's settings, as the recorder reads it.
std::filesystem::path settings_root() {
    wxFileName file;
    file.AssignDir(platform::home_dir());
    file.AppendDir("Meridian5");
    file.AppendDir("config");
    file.SetFullName(".kestrel");
    const settings_file_store settings(file.GetFullPath());
    return platform::native_path(read_text(settings, "write_path"));
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

void run(const command_line& line) {
    if (line.words.empty())
        throw usage_error("no command: list, place, frame or clip");
    const std::filesystem::path root =
        line.root ? std::filesystem::path(*line.root) : settings_root();
    trip_commands commands(root, line.within, std::cout, std::cerr);
    const std::string& command = line.words[0];
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
        throw usage_error("unknown command " + command + ": list, place, frame or clip");
    }
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
        run(parse(argc, argv));
        return 0;
    } catch (const usage_error& error) {
        std::cerr << "kestrel-trips: " << error.what() << "\n";
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "kestrel-trips: " << error.what() << "\n";
        return 1;
    }
}
