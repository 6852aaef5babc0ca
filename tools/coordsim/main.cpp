// kestrel-coordsim: a coordinate server for tests, benchmarks and demonstrations. It answers
// the 64-byte requests of the recorder with the position of a car running along a simulated
// line, and can misbehave on purpose (no fix, closed connections, silence, short answers).

#include "position/coord_wire.h"
#include "route.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/write.hpp>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace {

using boost::asio::ip::tcp;

const char usage[] = R"(Usage: kestrel-coordsim [options]
A coordinate server on TCP: answers each 64-byte request with the position of a car
running along a simulated line. Prints "port N" on stdout first, logs every request on
stderr, serves several clients at once, stops on SIGINT or SIGTERM.

  --host ADDRESS          address to listen on (default 127.0.0.1)
  --port N                port to listen on; 0 picks a free one (default 0)
  --speed KMH             speed of the car in km/h (default 60)
  --step METRES           move the car this far per answer instead of by the clock
  --start METRES          absolute coordinate at start (default 100000)
  --line-scale F          lengths of the line's stretches times F, 0 < F <= 1 (default 1):
                          0.01 changes section every 70-140 m and track every 1.5 km
  --encoding NAME         cp1251 (default) or utf8: encoding of the answer's texts
  --no-fix-between A:B    answer "no fix" while the car is between coordinates A and B
  --no-fix-answers F:N    answer "no fix" to answers F..F+N-1 of each connection (from 1)
  --no-fix-every N        answer "no fix" to every Nth answer of each connection
  --close-after N         close each connection after its Nth answer
  --stall-after N         send nothing after the Nth answer of a connection (0: never answer)
  --short-answer BYTES    send only the first BYTES bytes of each answer
  --echo                  echo each request: server_value = its path-sensor value, bytes 0-3 =
                          the answer's number on its connection, bytes 4-7 = the offset (float)
  --quiet                 do not log requests
  --help                  this text
)";

struct options {
    std::string host = "127.0.0.1";
    unsigned short port = 0;
    double speed_kmh = 60.0;
    std::optional<double> step_m;
    double start_m = 100000.0;
    double line_scale = 1.0;
    bool utf8 = false;
    std::optional<std::pair<double, double>> no_fix_between;
    std::optional<std::pair<long, long>> no_fix_answers;
    std::optional<long> no_fix_every;
    std::optional<long> close_after;
    std::optional<long> stall_after;
    std::optional<size_t> short_answer;
    bool echo = false;
    bool quiet = false;
};

double parse_number(const std::string& text) {
    size_t used = 0;
    const double value = std::stod(text, &used);
    if (used != text.size())
        throw std::invalid_argument(text);
    return value;
}

long parse_count(const std::string& text) {
    const double value = parse_number(text);
    if (value < 0 || value != std::floor(value))
        throw std::invalid_argument(text);
    return static_cast<long>(value);
}

std::pair<std::string, std::string> split_pair(const std::string& text) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos)
        throw std::invalid_argument(text);
    return {text.substr(0, colon), text.substr(colon + 1)};
}

options parse_options(int argc, char** argv) {
    options result;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help") {
            std::cout << usage;
            std::exit(0);
        }
        if (name == "--echo") {
            result.echo = true;
            continue;
        }
        if (name == "--quiet") {
            result.quiet = true;
            continue;
        }
        if (name.rfind("--", 0) != 0 || std::string(usage).find(name + " ") == std::string::npos)
            throw std::invalid_argument("unknown option " + name);
        if (i + 1 >= argc)
            throw std::invalid_argument(name + " needs a value");
        const std::string value = argv[++i];
        if (name == "--host") {
            result.host = value;
        } else if (name == "--port") {
            const long port = parse_count(value);
            if (port > 65535)
                throw std::invalid_argument(value);
            result.port = static_cast<unsigned short>(port);
        } else if (name == "--speed") {
            result.speed_kmh = parse_number(value);
        } else if (name == "--step") {
            result.step_m = parse_number(value);
        } else if (name == "--start") {
            result.start_m = parse_number(value);
        } else if (name == "--line-scale") {
            result.line_scale = parse_number(value);
            if (!(result.line_scale > 0.0 && result.line_scale <= 1.0))
                throw std::invalid_argument(value);
        } else if (name == "--encoding") {
            if (value != "cp1251" && value != "utf8")
                throw std::invalid_argument("encoding " + value);
            result.utf8 = value == "utf8";
        } else if (name == "--no-fix-between") {
            const auto [from, to] = split_pair(value);
            result.no_fix_between = std::make_pair(parse_number(from), parse_number(to));
        } else if (name == "--no-fix-answers") {
            const auto [first, count] = split_pair(value);
            result.no_fix_answers = std::make_pair(parse_count(first), parse_count(count));
        } else if (name == "--no-fix-every") {
            result.no_fix_every = parse_count(value);
            if (*result.no_fix_every == 0)
                throw std::invalid_argument(value);
        } else if (name == "--close-after") {
            result.close_after = parse_count(value);
        } else if (name == "--stall-after") {
            result.stall_after = parse_count(value);
        } else if (name == "--short-answer") {
            result.short_answer = static_cast<size_t>(parse_count(value));
        } else {
            throw std::invalid_argument("unknown option " + name);
        }
    }
    return result;
}

// UTF-8 to Windows-1251, the code page of the server's own machine. Converted texts are kept:
// a line has few distinct names.
class text_encoder {
public:
    explicit text_encoder(bool utf8) : utf8(utf8) {}

    const std::string& encode(const std::string& text) {
        if (utf8)
            return text;
        const auto known = cache.find(text);
        if (known != cache.end())
            return known->second;
        return cache.emplace(text, to_cp1251(text)).first->second;
    }

private:
    static std::string to_cp1251(const std::string& text) {
        iconv_t converter = iconv_open("CP1251", "UTF-8");
        if (converter == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error("iconv cannot convert to CP1251");
        std::string input = text;
        std::string output(text.size() * 2 + 1, '\0');
        char* in = input.data();
        size_t in_left = input.size();
        char* out = output.data();
        size_t out_left = output.size();
        const size_t result = iconv(converter, &in, &in_left, &out, &out_left);
        iconv_close(converter);
        if (result == static_cast<size_t>(-1))
            throw std::runtime_error("text not representable in CP1251: " + text);
        output.resize(output.size() - out_left);
        return output;
    }

    const bool utf8;
    std::map<std::string, std::string> cache;
};

class simulator {
public:
    simulator(boost::asio::io_context& io, const options& settings)
        : io(io), settings(settings), encoder(settings.utf8),
          acceptor(io, tcp::endpoint(boost::asio::ip::make_address(settings.host), settings.port)),
          started(std::chrono::steady_clock::now()) {}

    unsigned short port() const { return acceptor.local_endpoint().port(); }

    void start() { accept_next(); }

    void stop() {
        boost::system::error_code ignored;
        acceptor.close(ignored);
    }

    // The car's coordinate at this answer.
    double route_abs() {
        ++answers_total;
        if (settings.step_m)
            return settings.start_m + *settings.step_m * static_cast<double>(answers_total - 1);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
        return settings.start_m + settings.speed_kmh / 3.6 * elapsed.count();
    }

    std::vector<uint8_t> answer_for(const coord_wire::request_fields& request, long number,
                                    std::string& summary) {
        coord_wire::answer_fields answer;
        const double abs = route_abs();
        answer.server_value =
            settings.echo ? request.path_sensor_value : static_cast<int32_t>(answers_total);
        if (settings.echo) {
            const uint32_t count = static_cast<uint32_t>(number);
            std::memcpy(answer.unexamined.data(), &count, 4);
            std::memcpy(answer.unexamined.data() + 4, &request.coordinate_offset, 4);
        }
        if (has_fix(abs, number)) {
            position_fix fix =
                coordsim::route_position(abs + request.coordinate_offset, settings.line_scale);
            fix.server_value = answer.server_value;
            fix.peregon = encoder.encode(fix.peregon);
            fix.pch = encoder.encode(fix.pch);
            answer.fix = fix;
            char text[96];
            std::snprintf(text, sizeof text, "fix abs %.2f km %d m %.2f", fix.abs, fix.km, fix.m);
            summary = text;
        } else {
            summary = "no fix";
        }
        std::vector<uint8_t> bytes = coord_wire::encode_answer(answer);
        if (settings.short_answer && *settings.short_answer < bytes.size())
            bytes.resize(*settings.short_answer);
        return bytes;
    }

    const options& config() const { return settings; }

private:
    bool has_fix(double abs, long number) const {
        if (settings.no_fix_between) {
            const auto [from, to] = *settings.no_fix_between;
            if (abs >= std::min(from, to) && abs <= std::max(from, to))
                return false;
        }
        if (settings.no_fix_answers) {
            const auto [first, count] = *settings.no_fix_answers;
            if (number >= first && number < first + count)
                return false;
        }
        if (settings.no_fix_every && number % *settings.no_fix_every == 0)
            return false;
        return true;
    }

    void accept_next();

    boost::asio::io_context& io;
    const options settings;
    text_encoder encoder;
    tcp::acceptor acceptor;
    const std::chrono::steady_clock::time_point started;
    long answers_total = 0;
    long clients_total = 0;
};

// One client's connection: reads requests of 64 bytes and answers each in turn.
class session : public std::enable_shared_from_this<session> {
public:
    session(tcp::socket socket, simulator& server, long id)
        : socket(std::move(socket)), server(server), id(id) {}

    void start() { read_request(); }

private:
    void read_request() {
        auto self = shared_from_this();
        boost::asio::async_read(
            socket, boost::asio::buffer(request),
            [self](const boost::system::error_code& error, size_t) { self->on_request(error); });
    }

    void on_request(const boost::system::error_code& error) {
        if (error) {
            log("closed by the client (%s)", error.message().c_str());
            return;
        }
        ++requests;
        const coord_wire::request_fields fields =
            coord_wire::decode_request(request.data(), request.size());
        const auto& settings = server.config();
        if (settings.stall_after && requests > *settings.stall_after) {
            log_request(fields, "stalled: no answer");
            read_request();
            return;
        }
        std::string summary;
        answer = server.answer_for(fields, requests, summary);
        log_request(fields, summary.c_str());
        auto self = shared_from_this();
        boost::asio::async_write(
            socket, boost::asio::buffer(answer),
            [self](const boost::system::error_code& error, size_t) { self->on_answered(error); });
    }

    void on_answered(const boost::system::error_code& error) {
        if (error) {
            log("send failed (%s)", error.message().c_str());
            return;
        }
        const auto& settings = server.config();
        if (settings.close_after && requests >= *settings.close_after) {
            log("closing after %ld answers", requests);
            boost::system::error_code ignored;
            socket.close(ignored);
            return;
        }
        read_request();
    }

    void log_request(const coord_wire::request_fields& fields, const char* outcome) {
        log("request %ld: tag %s, path sensor %d, offset %.3f, version %d -> %s", requests,
            fields.tagged ? "CXQUEST2" : "WRONG", fields.path_sensor_value,
            static_cast<double>(fields.coordinate_offset), fields.version, outcome);
    }

    template <typename... Args> void log(const char* format, Args... args) {
        if (server.config().quiet)
            return;
        std::fprintf(stderr, "coordsim: client %ld: ", id);
        std::fprintf(stderr, format, args...);
        std::fputc('\n', stderr);
    }

    tcp::socket socket;
    simulator& server;
    const long id;
    coord_wire::request_bytes request{};
    std::vector<uint8_t> answer;
    long requests = 0;
};

void simulator::accept_next() {
    acceptor.async_accept([this](const boost::system::error_code& error, tcp::socket socket) {
        if (error)
            return;
        ++clients_total;
        if (!settings.quiet)
            std::fprintf(stderr, "coordsim: client %ld connected\n", clients_total);
        boost::system::error_code ignored;
        socket.set_option(tcp::no_delay(true), ignored);
        std::make_shared<session>(std::move(socket), *this, clients_total)->start();
        accept_next();
    });
}

} // namespace

int main(int argc, char** argv) {
    options settings;
    try {
        settings = parse_options(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kestrel-coordsim: bad option: %s\n%s", error.what(), usage);
        return 2;
    }
    try {
        boost::asio::io_context io;
        simulator server(io, settings);
        boost::asio::signal_set signals(io, SIGINT, SIGTERM);
        signals.async_wait([&](const boost::system::error_code&, int) {
            server.stop();
            io.stop();
        });
        std::printf("port %u\n", static_cast<unsigned>(server.port()));
        std::fflush(stdout);
        server.start();
        io.run();
        if (!settings.quiet)
            std::fprintf(stderr, "coordsim: stopped\n");
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kestrel-coordsim: %s\n", error.what());
        return 1;
    }
}
