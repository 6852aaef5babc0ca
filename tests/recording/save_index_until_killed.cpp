// Saves a growing frame index until it is killed: for the test that a kill in the middle of a
// save leaves an index that parses.
// Usage: save_index_until_killed <index path> <seed>
// After each save reports "saved N" on the standard error: N records have been added, and every
// one of them but perhaps the newest is in the file.

#include "recording/frame_index.h"

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <wx/init.h>

int main(int argc, char** argv) {
    if (argc != 3)
        return 1;
    const wxInitializer toolkit;
    FrameIndex index;
    index.set_path(wxString::FromUTF8(argv[1]));
    index.set_save_interval(std::chrono::hours(1));
    std::mt19937 random(static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)));
    std::uniform_int_distribution<int> batch_size(1, 400);
    std::uniform_int_distribution<int> name_length(0, 120);
    for (int frame = 0;;) {
        // Batches of up to 60 KB: most saves cross pages, some end near a page's end.
        for (int i = batch_size(random); i > 0; --i, ++frame) {
            TrackPosition position(frame);
            position.km = frame / 100;
            const std::string name = std::string(name_length(random), 'n') + "<&>.avi";
            index.add(wxString::FromUTF8(name), frame % 100, position);
        }
        if (!index.save())
            return 2;
        std::fprintf(stderr, "saved %d\n", frame);
    }
}
