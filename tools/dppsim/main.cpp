// kestrel-dppsim: a path sensor on a pseudo-terminal. Prints the device to open, then sends
// frames with a rising value at a set rate until SIGINT or SIGTERM, when it closes its end.

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <pty.h>
#include <stdexcept>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const char usage[] = R"(Usage: kestrel-dppsim [options]
A path sensor on a pseudo-terminal. Prints "device /dev/pts/N" on stdout first, then sends
frames with a rising value until SIGINT or SIGTERM, when it closes its end of the line.

  --rate N        frames per second (default 100)
  --format F      4 (tagged 4-byte frames), 7 (0x53 0x04 frames with checksum) or both,
                  taking turns (default both)
  --start N       first value (default 0)
  --step N        value increase per frame (default 1)
  --count N       stop after N frames (default: run until signalled)
  --help          this text
)";

volatile std::sig_atomic_t stop_requested = 0;

void on_signal(int) {
    stop_requested = 1;
}

struct options {
    double rate = 100.0;
    std::string format = "both";
    uint32_t start = 0;
    uint32_t step = 1;
    long count = -1;
};

long parse_count(const std::string& text) {
    size_t used = 0;
    const long value = std::stol(text, &used);
    if (used != text.size() || value < 0)
        throw std::invalid_argument(text);
    return value;
}

options parse_options(int argc, char** argv) {
    options result;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help") {
            std::fputs(usage, stdout);
            std::exit(0);
        }
        if (name.rfind("--", 0) != 0 || std::string(usage).find(name + " ") == std::string::npos)
            throw std::invalid_argument("unknown option " + name);
        if (i + 1 >= argc)
            throw std::invalid_argument(name + " needs a value");
        const std::string value = argv[++i];
        if (name == "--rate") {
            result.rate = std::stod(value);
            if (!(result.rate > 0))
                throw std::invalid_argument(value);
        } else if (name == "--format") {
            if (value != "4" && value != "7" && value != "both")
                throw std::invalid_argument(value);
            result.format = value;
        } else if (name == "--start") {
            result.start = static_cast<uint32_t>(parse_count(value));
        } else if (name == "--step") {
            result.step = static_cast<uint32_t>(parse_count(value));
        } else if (name == "--count") {
            result.count = parse_count(value);
        } else {
            throw std::invalid_argument("unknown option " + name);
        }
    }
    return result;
}

std::vector<uint8_t> frame4(uint32_t value) {
    std::vector<uint8_t> frame;
    for (uint32_t i = 0; i < 4; ++i)
        frame.push_back(static_cast<uint8_t>((i << 6) | ((value >> (6 * i)) & 0x3F)));
    return frame;
}

std::vector<uint8_t> frame7(uint32_t value) {
    std::vector<uint8_t> frame = {0x53, 0x04};
    for (int i = 0; i < 4; ++i)
        frame.push_back(static_cast<uint8_t>(value >> (8 * i)));
    unsigned sum = 0;
    for (const uint8_t byte : frame)
        sum += byte;
    frame.push_back(static_cast<uint8_t>(sum));
    return frame;
}

// False when the line is gone or a signal asked to stop.
bool write_all(int fd, const std::vector<uint8_t>& bytes) {
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t result = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (result < 0) {
            if (errno == EINTR && !stop_requested)
                continue;
            return false;
        }
        written += static_cast<size_t>(result);
    }
    return true;
}

// Closing the master end drops what the reader has not read yet: the last frames would be lost
// on a busy machine. Waits (at most 2 s) until the line's input is empty.
void wait_until_read(int slave) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int waiting = 0;
    while (::ioctl(slave, FIONREAD, &waiting) == 0 && waiting > 0 &&
           std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

} // namespace

int main(int argc, char** argv) {
    options settings;
    try {
        settings = parse_options(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kestrel-dppsim: bad option: %s\n%s", error.what(), usage);
        return 2;
    }

    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("kestrel-dppsim: openpty");
        return 1;
    }
    // Raw line: no echo, no newline translation. Our own slave end stays open so bytes sent
    // before the reader opens the device are kept for it.
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);

    std::printf("device %s\n", name);
    std::fflush(stdout);

    const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(1.0 / settings.rate));
    auto next = std::chrono::steady_clock::now();
    uint32_t value = settings.start;
    for (long sent = 0; !stop_requested && (settings.count < 0 || sent < settings.count); ++sent) {
        const bool long_frame =
            settings.format == "7" || (settings.format == "both" && sent % 2 == 1);
        if (!write_all(master, long_frame ? frame7(value) : frame4(value)))
            break;
        value += settings.step;
        next += period;
        std::this_thread::sleep_until(next);
    }
    wait_until_read(slave);
    ::close(master);
    ::close(slave);
    std::fprintf(stderr, "kestrel-dppsim: line closed\n");
    return 0;
}
