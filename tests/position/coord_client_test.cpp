#include "platform/text.h"
#include "position/coord_client.h"
#include "tests/support/child_process.h"

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using outcome = exchange_result::outcome;

// A kestrel-coordsim on a free port of 127.0.0.1, ended with the test.
struct simulator {
    explicit simulator(std::vector<std::string> options)
        : process(test_support::start_tool("coordsim/kestrel-coordsim",
                                           arguments(std::move(options)))) {
        port = test_support::first_line_value(process);
    }

    static std::vector<std::string> arguments(std::vector<std::string> options) {
        std::vector<std::string> all = {"--port", "0"};
        all.insert(all.end(), options.begin(), options.end());
        return all;
    }

    test_support::child_process process;
    std::string port;
};

// The message of the failure an exchange raises, or "" when it raises none.
std::string failure_of(coord_client& client) {
    try {
        client.exchange(0, 0.0);
    } catch (const std::runtime_error& failure) {
        return failure.what();
    }
    return {};
}

// Exchanges one after another, as a capture thread makes them, until one gives a fix or the
// time is up; the last result. None may raise a failure.
exchange_result exchange_until_fix(coord_client& client, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    exchange_result result;
    while (std::chrono::steady_clock::now() < end) {
        result = client.exchange(0, 0.0);
        if (result.status == outcome::fix)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    return result;
}

TEST(coord_client, follows_the_servers_fix_and_no_fix_answers) {
    simulator server({"--step", "100", "--start", "5000", "--no-fix-answers", "3:2", "--echo"});
    coord_client client;
    ASSERT_TRUE(client.connect("127.0.0.1", server.port));
    EXPECT_TRUE(client.is_connected());

    const std::vector<outcome> expected = {outcome::fix,    outcome::fix, outcome::no_fix,
                                           outcome::no_fix, outcome::fix, outcome::fix};
    for (size_t i = 0; i < expected.size(); ++i) {
        const int32_t sensor = 1000 + static_cast<int32_t>(i);
        const exchange_result result = client.exchange(sensor, -12.5);
        ASSERT_EQ(result.status, expected[i]) << "answer " << i + 1;
        if (result.status != outcome::fix)
            continue;
        // The simulator moves 100 m per answer and applies the camera's offset.
        const double abs = 5000.0 + 100.0 * static_cast<double>(i) - 12.5;
        EXPECT_EQ(result.fix.server_value, sensor);
        EXPECT_DOUBLE_EQ(result.fix.abs, abs);
        EXPECT_EQ(result.fix.km, static_cast<int32_t>(abs / 1000));
        EXPECT_NEAR(result.fix.m, abs - 1000.0 * result.fix.km, 1e-3);
        EXPECT_EQ(result.fix.dir.size(), 6u);
        EXPECT_TRUE(platform::decode_server_text(result.fix.pch).StartsWith(L"ПЧ-"));
        EXPECT_TRUE(platform::decode_server_text(result.fix.peregon).Contains(L"Берёзовая"));
    }
}

TEST(coord_client, simulator_stretch_without_fix_and_utf8_texts) {
    simulator server(
        {"--encoding", "utf8", "--step", "1000", "--start", "0", "--no-fix-between", "2500:4500"});
    coord_client client;
    ASSERT_TRUE(client.connect("127.0.0.1", server.port));
    std::vector<outcome> outcomes;
    for (int i = 0; i < 6; ++i) {
        const exchange_result result = client.exchange(0, 0.0);
        outcomes.push_back(result.status);
        if (result.status == outcome::fix) {
            EXPECT_EQ(wxString::FromUTF8(result.fix.peregon), wxString(L"Сосновка - Берёзовая"));
        }
    }
    EXPECT_EQ(outcomes, (std::vector<outcome>{outcome::fix, outcome::fix, outcome::fix,
                                              outcome::no_fix, outcome::no_fix, outcome::fix}));
}

TEST(coord_client, short_answer_with_a_fix_leaves_the_rest_zero) {
    simulator server({"--short-answer", "13", "--echo"});
    coord_client client;
    ASSERT_TRUE(client.connect("127.0.0.1", server.port));
    const exchange_result result = client.exchange(55, 0.0);
    ASSERT_EQ(result.status, outcome::fix);
    EXPECT_EQ(result.fix.server_value, 55);
    EXPECT_EQ(result.fix.abs, 0.0);
    EXPECT_TRUE(result.fix.peregon.empty());
    EXPECT_TRUE(result.fix.pch.empty());
}

TEST(coord_client, a_closed_connection_fails_once_and_is_made_again_after_a_pause) {
    simulator server({"--close-after", "2"});
    coord_client client;
    ASSERT_TRUE(client.connect("127.0.0.1", server.port));
    EXPECT_EQ(client.exchange(0, 0.0).status, outcome::fix);
    EXPECT_EQ(client.exchange(0, 0.0).status, outcome::fix);
    EXPECT_EQ(failure_of(client), "CoordServer receive error");
    EXPECT_FALSE(client.is_connected());
    // No attempt before the pause is over, though the server would take one.
    EXPECT_EQ(client.exchange(0, 0.0).status, outcome::not_connected);
    EXPECT_FALSE(client.is_connected());

    const exchange_result back = exchange_until_fix(client, std::chrono::seconds(5));
    ASSERT_EQ(back.status, outcome::fix);
    ASSERT_TRUE(back.reconnected.has_value());
    EXPECT_EQ(back.reconnected->host, "127.0.0.1");
    EXPECT_EQ(back.reconnected->port, server.port);
    // Said once; the next loss is a new one and fails once again.
    const exchange_result next = client.exchange(0, 0.0);
    EXPECT_EQ(next.status, outcome::fix);
    EXPECT_FALSE(next.reconnected.has_value());
    EXPECT_EQ(failure_of(client), "CoordServer receive error");
    EXPECT_EQ(failure_of(client), "");

    // The operator's command connects at once, and no return is announced then.
    ASSERT_TRUE(client.connect("127.0.0.1", server.port));
    const exchange_result connected = client.exchange(0, 0.0);
    EXPECT_EQ(connected.status, outcome::fix);
    EXPECT_FALSE(connected.reconnected.has_value());
}

TEST(coord_client, a_server_restarted_on_its_port_is_found_again) {
    auto server = std::make_unique<simulator>(std::vector<std::string>{});
    const std::string port = server->port;
    coord_client client;
    ASSERT_TRUE(client.connect("127.0.0.1", port));
    EXPECT_EQ(client.exchange(0, 0.0).status, outcome::fix);
    server->process.kill_now();
    EXPECT_EQ(failure_of(client), "CoordServer receive error");
    // Nothing listens for a while: the attempts fail quietly.
    const exchange_result meanwhile = exchange_until_fix(client, std::chrono::milliseconds(2500));
    EXPECT_EQ(meanwhile.status, outcome::not_connected);

    server = std::make_unique<simulator>(std::vector<std::string>{"--port", port});
    // The client's own thread connects again; no exchange has to ask for it.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!client.is_connected() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(client.is_connected());
    const exchange_result back = client.exchange(0, 0.0);
    ASSERT_EQ(back.status, outcome::fix);
    ASSERT_TRUE(back.reconnected.has_value());
    EXPECT_EQ(back.reconnected->port, port);
}

TEST(coord_client, a_server_absent_at_the_connect_is_connected_once_it_listens) {
    unsigned short free_port = 0;
    {
        boost::asio::io_context io;
        boost::asio::ip::tcp::acceptor probe(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
        free_port = probe.local_endpoint().port();
    }
    const std::string port = std::to_string(free_port);
    coord_client client;
    EXPECT_FALSE(client.connect("127.0.0.1", port));
    EXPECT_EQ(failure_of(client), "") << "the failed connect was the report";
    const simulator server({"--port", port});
    const exchange_result back = exchange_until_fix(client, std::chrono::seconds(5));
    ASSERT_EQ(back.status, outcome::fix);
    EXPECT_TRUE(back.reconnected.has_value());
}

TEST(coord_client, a_frozen_server_fails_once_and_only_an_exchange_on_a_new_connection_waits) {
    simulator server({});
    coord_client client;
    ASSERT_TRUE(client.connect("127.0.0.1", server.port));
    EXPECT_EQ(client.exchange(0, 0.0).status, outcome::fix);
    server.process.signal(SIGSTOP);

    // The system still accepts connections for the stopped server, which never answers: the
    // client's thread connects every 2 s, and the exchange on each new connection waits out
    // the answer limit and fails quietly. Every other exchange returns at once.
    std::vector<std::string> failures;
    std::chrono::steady_clock::duration longest{};
    int waited = 0;
    int exchanges = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < end) {
        const auto started = std::chrono::steady_clock::now();
        const std::string failure = failure_of(client);
        const auto took = std::chrono::steady_clock::now() - started;
        longest = std::max(longest, took);
        waited += took >= coord_client::answer_limit / 2 ? 1 : 0;
        ++exchanges;
        if (!failure.empty())
            failures.push_back(failure);
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    EXPECT_EQ(failures, std::vector<std::string>{"CoordServer wait error"});
    EXPECT_GE(exchanges, 40);
    // The first failure and one per reconnection (at most one every 2 s).
    EXPECT_GE(waited, 2);
    EXPECT_LE(waited, 4);
    // A guard against hanging, not a measure of speed: the limit is 200 ms.
    EXPECT_LT(longest, std::chrono::milliseconds(1000));

    server.process.signal(SIGCONT);
    const exchange_result back = exchange_until_fix(client, std::chrono::seconds(6));
    ASSERT_EQ(back.status, outcome::fix);
    EXPECT_TRUE(back.reconnected.has_value());
}

TEST(coord_client, silent_server_ends_the_exchange_within_the_wait_limit) {
    for (const char* answers_before_silence : {"0", "1"}) {
        simulator server({"--stall-after", answers_before_silence});
        coord_client client;
        ASSERT_TRUE(client.connect("127.0.0.1", server.port));
        if (std::string(answers_before_silence) == "1") {
            EXPECT_EQ(client.exchange(0, 0.0).status, outcome::fix);
        }

        const auto started = std::chrono::steady_clock::now();
        const std::string failure = failure_of(client);
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_TRUE(failure == "CoordServer wait error" || failure == "CoordServer receive error")
            << failure;
        EXPECT_FALSE(client.is_connected());
        // A guard against hanging, not a measure of speed: the limit is 200 ms.
        EXPECT_LT(took, std::chrono::milliseconds(1000));
    }
}

TEST(coord_client, concurrent_exchanges_and_reconnects_never_mix_answers) {
    simulator server({"--echo", "--quiet"});
    coord_client client;
    ASSERT_TRUE(client.connect("127.0.0.1", server.port));

    constexpr int exchanges_per_thread = 5000;
    std::atomic<int> foreign_answers{0};
    std::atomic<int> failures{0};
    std::atomic<int> finished{0};
    auto capture = [&](int32_t base, double offset) {
        for (int i = 0; i < exchanges_per_thread; ++i) {
            const int32_t sensor = base + i;
            try {
                const exchange_result result = client.exchange(sensor, offset);
                if (result.status != outcome::fix || result.fix.server_value != sensor)
                    ++foreign_answers;
            } catch (const std::exception&) {
                ++failures;
            }
        }
        ++finished;
    };
    std::thread front(capture, 1000000, 10.0);
    std::thread back(capture, 2000000, -10.0);
    // The main window's reconnect, while both capture threads are busy.
    int reconnects = 0;
    while (finished.load() < 2 && reconnects < 200) {
        EXPECT_TRUE(client.connect("127.0.0.1", server.port));
        ++reconnects;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    front.join();
    back.join();
    EXPECT_EQ(foreign_answers.load(), 0);
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GT(reconnects, 0);
}

TEST(coord_client, connect_fails_for_service_names_and_closed_ports) {
    simulator server({});
    coord_client client;
    ASSERT_TRUE(client.connect("127.0.0.1", server.port));
    // A failed connect also drops the connection that stood before.
    EXPECT_FALSE(client.connect("127.0.0.1", "http"));
    EXPECT_FALSE(client.is_connected());
    EXPECT_EQ(client.exchange(0, 0.0).status, outcome::not_connected);

    unsigned short closed_port = 0;
    {
        boost::asio::io_context io;
        boost::asio::ip::tcp::acceptor probe(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
        closed_port = probe.local_endpoint().port();
    }
    EXPECT_FALSE(client.connect("127.0.0.1", std::to_string(closed_port)));
    EXPECT_FALSE(client.is_connected());

    ASSERT_TRUE(client.connect("127.0.0.1", server.port));
    client.close();
    EXPECT_EQ(client.exchange(0, 0.0).status, outcome::not_connected);
}

} // namespace
