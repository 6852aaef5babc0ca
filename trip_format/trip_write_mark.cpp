#include "trip_format/trip_write_mark.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

trip_state state_of_trip(const std::filesystem::path& trip_folder) {
    const std::filesystem::path mark = trip_folder / "writing.lock";
    const int handle = ::open(mark.c_str(), O_RDONLY | O_CLOEXEC);
    if (handle < 0)
        return trip_state::finished;
    const bool free = ::flock(handle, LOCK_SH | LOCK_NB) == 0;
    ::close(handle);
    return free ? trip_state::cut : trip_state::being_written;
}
