#include "position/dpp_thread.h"
#include "tests/support/child_process.h"

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <pty.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <wx/app.h>
#include <wx/init.h>

namespace {

// The reader's owner: records every event, in the order the event loop delivers them.
class event_sink : public wxEvtHandler {
public:
    event_sink() {
        Bind(dpp_value_event, [this](wxThreadEvent& event) {
            values.push_back(event.GetString());
            numbers.push_back(event.GetExtraLong());
        });
        Bind(dpp_error_event,
             [this](wxThreadEvent& event) { errors.push_back(event.GetString()); });
    }

    // Delivers queued events until the predicate holds; false if it still fails after a
    // generous time (a guard against hanging, not a measure of speed).
    template <typename Predicate> bool deliver_until(Predicate predicate) {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!predicate()) {
            if (std::chrono::steady_clock::now() > give_up)
                return false;
            deliver_queued();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    // Without a running event loop the application object hands queued events over.
    static void deliver_queued() { wxAppConsole::GetInstance()->ProcessPendingEvents(); }

    std::vector<wxString> values;
    std::vector<long> numbers;
    std::vector<wxString> errors;
};

// A pseudo-terminal standing in for the sensor's serial line; the test writes the sensor's
// bytes into the master end. The test keeps its own slave end open so that bytes written
// before the reader opens the device are kept.
class pseudo_terminal {
public:
    pseudo_terminal() {
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        termios raw{};
        ::tcgetattr(slave, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(slave, TCSANOW, &raw);
    }
    ~pseudo_terminal() {
        close_master();
        ::close(slave);
    }

    void write(const std::vector<uint8_t>& bytes) const {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    void close_master() {
        if (master >= 0)
            ::close(master);
        master = -1;
    }

    wxString device() const { return wxString::FromUTF8(name); }

private:
    int master = -1;
    int slave = -1;
    char name[256] = {};
};

std::vector<uint8_t> frame4(uint32_t value) {
    return {static_cast<uint8_t>(value & 0x3F), static_cast<uint8_t>(0x40 | ((value >> 6) & 0x3F)),
            static_cast<uint8_t>(0x80 | ((value >> 12) & 0x3F)),
            static_cast<uint8_t>(0xC0 | ((value >> 18) & 0x3F))};
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

TEST(dpp_thread, readings_arrive_in_order_and_a_closed_line_ends_the_reader_once) {
    event_sink sink;
    pseudo_terminal line;
    const auto reader = dpp_thread::start(&sink, line.device());

    std::vector<wxString> expected;
    for (uint32_t value = 0; value < 300; ++value) {
        if (value % 3 == 0) {
            line.write(frame7(value * 1000));
            expected.push_back(wxString::Format(L"ДПП[7]: %u", value * 1000));
        } else {
            line.write(frame4(value));
            expected.push_back(wxString::Format(L"ДПП[4]: %u", value));
        }
    }
    line.write(frame7(0x80000000u));
    expected.push_back(L"ДПП[7]: -2147483648");

    ASSERT_TRUE(sink.deliver_until([&] { return sink.values.size() >= expected.size(); }));
    EXPECT_EQ(sink.values, expected);
    EXPECT_EQ(sink.numbers.back(), -2147483648L);
    EXPECT_EQ(sink.numbers[1], 1);
    EXPECT_TRUE(sink.errors.empty());

    line.close_master();
    ASSERT_TRUE(sink.deliver_until([&] { return !sink.errors.empty(); }));
    EXPECT_TRUE(sink.errors[0].StartsWith(L"Ошибка COM [")) << sink.errors[0];
    // The error is the reader's last word: once stop() returns the thread is gone.
    reader->stop();
    EXPECT_TRUE(reader->has_ended());
    sink.deliver_queued();
    EXPECT_EQ(sink.errors.size(), 1u);
    EXPECT_EQ(sink.values.size(), expected.size());
}

TEST(dpp_thread, missing_port_reports_open_and_stop_after_the_end_is_safe) {
    event_sink sink;
    const auto reader = dpp_thread::start(&sink, "/dev/kestrel-no-such-port");
    ASSERT_TRUE(sink.deliver_until([&] { return !sink.errors.empty(); }));
    EXPECT_TRUE(sink.errors[0].StartsWith("open")) << sink.errors[0];
    // The thread deletes itself after its error; wait until it has, then stop it anyway.
    ASSERT_TRUE(sink.deliver_until([&] { return reader->has_ended(); }));
    reader->stop();
    reader->stop();
    sink.deliver_queued();
    EXPECT_EQ(sink.errors.size(), 1u);
    EXPECT_TRUE(sink.values.empty());
}

TEST(dpp_thread, stop_races_a_failing_reader_without_harm) {
    // Each round the reader's failure and the owner's stop meet at a different moment.
    for (int round = 0; round < 40; ++round) {
        event_sink sink;
        const auto reader = dpp_thread::start(&sink, "/dev/kestrel-no-such-port");
        if (round % 2 == 1)
            std::this_thread::sleep_for(std::chrono::microseconds(50 * round));
        reader->stop();
        EXPECT_TRUE(reader->has_ended());
        sink.deliver_queued();
        EXPECT_LE(sink.errors.size(), 1u);
    }
}

TEST(dpp_thread, stop_ends_a_waiting_reader_without_an_event) {
    for (int round = 0; round < 20; ++round) {
        event_sink sink;
        pseudo_terminal line;
        const auto reader = dpp_thread::start(&sink, line.device());
        if (round % 2 == 1) {
            line.write(frame4(static_cast<uint32_t>(round)));
            ASSERT_TRUE(sink.deliver_until([&] { return !sink.values.empty(); }));
        }
        reader->stop();
        EXPECT_TRUE(reader->has_ended());
        sink.deliver_queued();
        EXPECT_TRUE(sink.errors.empty()) << sink.errors[0];
    }
}

TEST(dpp_thread, reads_the_simulated_sensor_through_a_pseudo_terminal) {
    event_sink sink;
    test_support::child_process sensor = test_support::start_tool(
        "dppsim/kestrel-dppsim", {"--rate", "2000", "--format", "both", "--step", "3"});
    const std::string device = test_support::first_line_value(sensor);
    const auto reader = dpp_thread::start(&sink, wxString::FromUTF8(device));

    ASSERT_TRUE(sink.deliver_until([&] { return sink.values.size() >= 200; }));
    // Each frame kind carries a rising value; both kinds take turns.
    long last4 = -1;
    long last7 = -1;
    for (size_t i = 0; i < sink.values.size(); ++i) {
        long& last = sink.values[i].StartsWith(L"ДПП[4]: ") ? last4 : last7;
        EXPECT_TRUE(sink.values[i].StartsWith(L"ДПП[")) << sink.values[i];
        EXPECT_GT(sink.numbers[i], last) << sink.values[i];
        last = sink.numbers[i];
    }
    EXPECT_GE(last4, 0);
    EXPECT_GE(last7, 0);

    sensor.terminate();
    ASSERT_TRUE(sink.deliver_until([&] { return !sink.errors.empty(); }));
    reader->stop();
    sink.deliver_queued();
    EXPECT_EQ(sink.errors.size(), 1u);
}

TEST(dpp_thread, stop_during_a_stream_of_readings_leaves_nothing_behind) {
    test_support::child_process sensor =
        test_support::start_tool("dppsim/kestrel-dppsim", {"--rate", "5000", "--format", "4"});
    const wxString device = wxString::FromUTF8(test_support::first_line_value(sensor));
    for (int round = 0; round < 5; ++round) {
        auto sink = std::make_unique<event_sink>();
        const auto reader = dpp_thread::start(sink.get(), device);
        ASSERT_TRUE(sink->deliver_until([&] { return sink->values.size() >= 20; }));
        reader->stop();
        sink->deliver_queued();
        const size_t delivered = sink->values.size();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        sink->deliver_queued();
        EXPECT_EQ(sink->values.size(), delivered);
        EXPECT_TRUE(sink->errors.empty());
        // The owner may go at once: the reader is gone and posts nothing more.
        sink.reset();
    }
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const wxInitializer toolkit;
    if (!toolkit.IsOk())
        return 1;
    return RUN_ALL_TESTS();
}
