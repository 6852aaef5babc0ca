// The trip catalogue and the route texts: route.csv written as a simulated car changes track
// and section, the catalogue kept up trip by trip against one made anew from the folders, a
// broken or unwritable catalogue, the pairing of a run's two cameras, and then-and-now over
// trips that ran both ways.

#include "archive/trip_catalogue.h"
#include "archive/trip_index.h"
#include "archive/trip_route.h"
#include "platform/text.h"
#include "position/coord_client.h"
#include "recording/frame_index.h"
#include "tests/recording/recording_test_support.h"
#include "tests/support/child_process.h"
#include "trip_format/trip_files.h"
#include "trip_format/trip_marks.h"

#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

struct texts_at {
    std::string dir = "240100";
    std::string way = "1";
    std::string pch = u8"ПЧ-12";
    std::string peregon = u8"Сосновка - Берёзовая";
};

// A trip folder with `count` records `step` metres apart from `start`, one second apart from
// `started` (seconds since 1970, local time), every record with a fix and the same texts.
struct synthetic_trip {
    std::string camera = u8"Котел";
    int64_t started = 1767258000; // 2026-01-01 09:00:00 UTC
    double start = 126000.0;
    double step = 10.0;
    int count = 100;
    texts_at texts;

    fs::path folder_under(const fs::path& root) const {
        const auto moment = static_cast<std::time_t>(started);
        std::tm fields{};
        localtime_r(&moment, &fields);
        char name[32];
        std::strftime(name, sizeof name, "%Y.%m.%d %H.%M.%S", &fields);
        return root / (std::string(name) + "[" + camera + "]");
    }

    TrackPosition position(int i) const {
        TrackPosition p(i);
        p.has_fix = true;
        p.abs = start + step * i;
        p.km = static_cast<int32_t>(std::floor(p.abs / 1000.0));
        p.m = p.abs - p.km * 1000.0;
        p.time = started + i;
        p.dir = texts.dir;
        p.way = texts.way;
        p.pch = texts.pch;
        p.peregon = texts.peregon;
        return p;
    }

    fs::path write(const fs::path& root, bool with_route = true) const {
        const fs::path folder = folder_under(root);
        fs::create_directories(folder);
        FrameIndex index;
        index.set_path(wxString::FromUTF8((folder / "data.idx").string()));
        for (int i = 0; i < count; ++i) {
            TrackPosition p = position(i);
            p.has_fix = with_route;
            index.add(wxString::Format("v%d.avi", i / 50), static_cast<uint64_t>(i % 50), p);
        }
        return folder;
    }
};

std::string describe(const trip_summary& trip) {
    std::ostringstream text;
    text << trip.folder.filename().string() << " " << trip.camera << " " << trip.started << " "
         << trip.start_time << "-" << trip.end_time << " frames " << trip.frames << " files "
         << trip.files << " marks " << trip.marks << " " << trip.first_km << "+" << trip.first_m
         << " " << trip.last_km << "+" << trip.last_m << " " << trip.first_abs << " "
         << trip.last_abs << " [" << trip.problem << "] " << trip.index_missing;
    return text.str();
}

std::string describe(const trip_pass& pass) {
    std::ostringstream text;
    text << pass.number << " " << pass.sense << " " << pass.dir << "/" << pass.way << " "
         << pass.first_record << "-" << pass.last_record << " " << pass.first_frame << "-"
         << pass.last_frame << " " << pass.abs_low << "-" << pass.abs_high << " " << pass.place_low
         << "-" << pass.place_high;
    return text.str();
}

std::string describe(const pass_at_place& row) {
    std::ostringstream text;
    text << row.trip.folder.filename().string() << " pass " << row.pass.number << " record "
         << row.record << " " << row.file << ":" << row.frame_in_file << " abs " << row.abs << " "
         << row.time << " " << row.texts.dir << "/" << row.texts.way;
    return text.str();
}

// Everything a catalogue tells, as text: two catalogues that tell the same compare equal.
std::string everything_in(const trip_catalogue& catalogue) {
    std::ostringstream text;
    for (const trip_summary& trip : catalogue.trips()) {
        text << describe(trip) << "\n";
        for (const trip_pass& pass : catalogue.passes(trip.folder))
            text << "  " << describe(pass) << "\n";
    }
    for (const double place : {126000.0, 126333.0, 126990.0, 127500.0}) {
        track_place at;
        at.absolute = true;
        at.abs = place;
        for (const pass_at_place& row : catalogue.passes_at(at, 25.0))
            text << "at " << place << ": " << describe(row) << "\n";
    }
    return text.str();
}

std::vector<std::vector<std::string>> csv_rows(const std::string& path) {
    const std::string script = "import csv, sys\n"
                               "for row in csv.reader(open(sys.argv[1], encoding='utf-8')):\n"
                               "    print('\\x1f'.join(row))\n";
    std::istringstream lines(
        run_command("python3 -c " + shell_quote(script) + " " + shell_quote(path)));
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields(1);
        for (const char c : line)
            if (c == '\x1f')
                fields.emplace_back();
            else
                fields.back() += c;
        rows.push_back(fields);
    }
    return rows;
}

} // namespace

// The simulated line shrunk a hundredfold: section, distance and track change within a run of
// a few kilometres. route.csv gets the first fixed frame and every change of a fixed frame's
// texts (frames without a fix add nothing), and data.idx is the same as without it.
TEST(route_texts, follow_the_coordinate_server_as_track_and_section_change) {
    test_support::child_process server = test_support::start_tool(
        "coordsim/kestrel-coordsim", {"--quiet", "--port", "0", "--step", "25", "--start", "148000",
                                      "--line-scale", "0.01", "--no-fix-every", "7"});
    const std::string port = test_support::first_line_value(server);
    coord_client client;
    ASSERT_TRUE(client.connect("127.0.0.1", port));
    std::vector<TrackPosition> positions;
    int32_t fixes = 0;
    for (int i = 0; i < 240; ++i) {
        const exchange_result answer = client.exchange(0, 0.0);
        ASSERT_NE(answer.status, exchange_result::outcome::not_connected);
        positions.push_back(answer.status == exchange_result::outcome::fix
                                ? TrackPosition(fixes++, answer.fix)
                                : TrackPosition(fixes));
    }

    scratch_folder folder;
    const fs::path with_route = fs::path(folder.path()) / "with";
    const fs::path without_route = fs::path(folder.path()) / "without";
    fs::create_directories(with_route);
    fs::create_directories(without_route);
    {
        FrameIndex index;
        FrameIndex plain;
        index.set_path(wxString::FromUTF8((with_route / "data.idx").string()));
        plain.set_path(wxString::FromUTF8((without_route / "data.idx").string()));
        for (size_t i = 0; i < positions.size(); ++i) {
            index.add("v.avi", i, positions[i]);
            TrackPosition no_texts = positions[i];
            no_texts.has_fix = false;
            plain.add("v.avi", i, no_texts);
            // The index is saved now and then mid-trip, as a long recording does.
            if (i % 50 == 49)
                index.save();
        }
    }
    EXPECT_EQ(read_file_text((with_route / "data.idx").string()),
              read_file_text((without_route / "data.idx").string()));
    EXPECT_FALSE(fs::exists(without_route / trip_files::route));

    // What the lines must be, from the positions themselves.
    std::vector<std::vector<std::string>> expected = {
        {"frame", "abs", "km", "m", "dir", "way", "pch", "peregon"}};
    std::set<std::string> ways;
    std::set<std::string> sections;
    for (const TrackPosition& p : positions) {
        if (!p.has_fix)
            continue;
        const std::vector<std::string> texts = {
            platform::decode_server_text(p.dir).utf8_string(),
            platform::decode_server_text(p.way).utf8_string(),
            platform::decode_server_text(p.pch).utf8_string(),
            platform::decode_server_text(p.peregon).utf8_string()};
        if (expected.size() > 1 &&
            std::equal(texts.begin(), texts.end(), expected.back().end() - 4))
            continue;
        std::vector<std::string> line = {
            std::to_string(p.frame), wxString::FromCDouble(p.abs, 6).utf8_string(),
            std::to_string(p.km), wxString::FromCDouble(p.m, 6).utf8_string()};
        line.insert(line.end(), texts.begin(), texts.end());
        expected.push_back(line);
        ways.insert(texts[1]);
        sections.insert(texts[3]);
    }
    EXPECT_GE(ways.size(), 2u) << "the run should change track";
    EXPECT_GE(sections.size(), 4u) << "the run should change section";
    EXPECT_EQ(csv_rows((with_route / trip_files::route).string()), expected);

    // Read back: the texts in force at every frame are those of its own fix.
    const trip_route route = trip_route::read(with_route);
    ASSERT_EQ(route.lines().size(), expected.size() - 1);
    for (const TrackPosition& p : positions)
        if (p.has_fix) {
            EXPECT_EQ(route.at_frame(p.frame).way,
                      platform::decode_server_text(p.way).utf8_string());
            EXPECT_EQ(route.at_frame(p.frame).peregon,
                      platform::decode_server_text(p.peregon).utf8_string());
        }
    EXPECT_FALSE(route.at_frame(-1).known());
    EXPECT_TRUE(trip_route::read(without_route).missing());
}

// A catalogue kept up as the recorder and the trip pane do (trips added as they close, one added
// mid-trip, marks made later, a folder deleted, a trip rewritten) tells exactly what a catalogue
// made anew from the folders tells.
TEST(trip_catalogue, kept_up_trip_by_trip_equals_one_rebuilt_from_the_folders) {
    scratch_folder folder;
    const fs::path root = folder.path();
    trip_catalogue kept(root);
    ASSERT_FALSE(kept.in_memory()) << kept.notice();

    synthetic_trip first;
    kept.add_trip(first.write(root));
    synthetic_trip second = first;
    second.camera = u8"Дизель";
    second.started += 3600;
    second.start = 127600.0;
    second.step = -8.0;
    second.count = 300;
    kept.add_trip(second.write(root));
    // A trip listed while it records, then grown: stale until the next sync reads it again.
    synthetic_trip growing = first;
    growing.started += 7200;
    growing.count = 40;
    const fs::path growing_folder = growing.write(root);
    kept.add_trip(growing_folder);
    growing.count = 260;
    growing.texts.way = "2";
    growing.write(root);
    ASSERT_TRUE(trip_marks::append(fs::path(growing_folder), growing.position(3), u8"Отметка"));
    // Left by a crash: never added, found by the sync.
    synthetic_trip crashed = first;
    crashed.started += 10800;
    crashed.write(root, false);
    synthetic_trip deleted = first;
    deleted.started += 14400;
    kept.add_trip(deleted.write(root));
    fs::remove_all(deleted.folder_under(root));
    fs::create_directories(root / "not a trip");

    EXPECT_EQ(kept.sync(), 3u); // the grown trip, the crashed one, the deleted one
    EXPECT_EQ(kept.sync(), 0u);
    ASSERT_EQ(kept.trips().size(), 4u);
    EXPECT_EQ(kept.trip(growing_folder)->frames, 260u);
    EXPECT_EQ(kept.trip(growing_folder)->marks, 1u);
    EXPECT_EQ(kept.passes(growing_folder).at(0).way, "2");
    EXPECT_EQ(kept.passes(second.folder_under(root)).at(0).sense, -1);
    EXPECT_TRUE(kept.passes(crashed.folder_under(root)).at(0).way.empty());

    const std::string kept_text = everything_in(kept);
    fs::remove(root / trip_catalogue::file_name);
    fs::remove(root / (std::string(trip_catalogue::file_name) + "-wal"));
    fs::remove(root / (std::string(trip_catalogue::file_name) + "-shm"));
    trip_catalogue rebuilt(root);
    EXPECT_EQ(rebuilt.sync(), 4u);
    EXPECT_EQ(everything_in(rebuilt), kept_text);
    EXPECT_EQ(kept.rebuild(), 4u);
    EXPECT_EQ(everything_in(kept), kept_text);
    EXPECT_NE(kept_text.find("at 126333: "), std::string::npos) << kept_text;
}

TEST(trip_catalogue, a_broken_catalogue_is_made_anew_and_an_unwritable_one_lives_in_memory) {
    scratch_folder folder;
    const fs::path root = folder.path();
    synthetic_trip trip;
    trip.write(root);
    { std::ofstream(root / trip_catalogue::file_name, std::ios::binary) << std::string(8192, 'x'); }
    trip_catalogue made_anew(root);
    EXPECT_FALSE(made_anew.in_memory()) << made_anew.notice();
    EXPECT_EQ(made_anew.sync(), 1u);
    EXPECT_EQ(made_anew.trips().size(), 1u);

    // A place where the file cannot be made, whoever runs the test: its name is taken by a
    // folder.
    scratch_folder share;
    const fs::path share_root = share.path();
    trip.write(share_root);
    fs::create_directories(share_root / trip_catalogue::file_name);
    trip_catalogue in_memory(share_root);
    EXPECT_TRUE(in_memory.in_memory());
    EXPECT_NE(in_memory.notice().find(trip_catalogue::file_name), std::string::npos);
    EXPECT_EQ(in_memory.sync(), 1u);
    EXPECT_EQ(in_memory.trips().at(0).frames, 100u);
    EXPECT_TRUE(trip_catalogue::list(share_root / "missing").empty());
}

// Both cameras of one run record at once; their trips pair by overlapping times, and a trip of
// the same camera or of another run never pairs.
TEST(trip_catalogue, pairs_the_two_cameras_of_one_run) {
    scratch_folder folder;
    const fs::path root = folder.path();
    synthetic_trip boiler;
    boiler.count = 600;
    synthetic_trip diesel = boiler;
    diesel.camera = u8"Дизель";
    diesel.started += 2;
    synthetic_trip later_diesel = diesel;
    later_diesel.started += 3600;
    synthetic_trip later_boiler = boiler;
    later_boiler.started += 2500;
    later_boiler.count = 200; // between the two runs
    for (const synthetic_trip* trip : {&boiler, &diesel, &later_diesel, &later_boiler})
        trip->write(root);
    trip_catalogue catalogue(root);
    catalogue.sync();
    EXPECT_EQ(catalogue.paired_trip(boiler.folder_under(root))->folder, diesel.folder_under(root));
    EXPECT_EQ(catalogue.paired_trip(diesel.folder_under(root))->folder, boiler.folder_under(root));
    EXPECT_EQ(catalogue.paired_trip(later_diesel.folder_under(root)), std::nullopt);
    EXPECT_EQ(catalogue.paired_trip(later_boiler.folder_under(root)), std::nullopt);
    EXPECT_EQ(catalogue.paired_trip(root / "2020.01.01 00.00.00[Котел]"), std::nullopt);
}

// Then and now at 126+500 for a boiler-end trip running up the line on track 1: the same end's
// camera looked the same way on earlier runs up the line, the diesel end's on runs down it.
TEST(trip_catalogue, then_and_now_lists_every_pass_seen_looking_the_same_way) {
    scratch_folder folder;
    const fs::path root = folder.path();
    const auto trip = [](int hour, const char* camera, double start, double step, int count,
                         const char* way) {
        synthetic_trip made;
        made.started += hour * 3600;
        made.camera = camera;
        made.start = start;
        made.step = step;
        made.count = count;
        made.texts.way = way;
        return made;
    };
    const synthetic_trip now = trip(10, u8"Котел", 126000, 10, 100, "1");
    synthetic_trip pair = now;
    pair.camera = u8"Дизель";
    const std::vector<synthetic_trip> earlier = {
        trip(9, u8"Котел", 126003, 10, 100, "1"),   // up, same end: listed
        trip(8, u8"Котел", 127000, -10, 100, "1"),  // down, same end: looks back, not listed
        trip(7, u8"Дизель", 127004, -10, 100, "1"), // down, other end: listed
        trip(6, u8"Дизель", 126000, 10, 100, "1"),  // up, other end: looks back, not listed
        trip(5, u8"Котел", 126000, 10, 100, "2"),   // other track: not listed
        trip(4, u8"Котел", 126400, 10, 5, "1"),     // ends 60 m short of the place: not listed
        trip(3, u8"Котел", 126000, 10, 100, "1"),   // no route.csv: track unknown, listed
    };
    now.write(root);
    pair.write(root);
    for (size_t i = 0; i < earlier.size(); ++i)
        earlier[i].write(root, i != 6);
    // There and back in one trip: only the way up is seen looking the same way.
    synthetic_trip there_and_back = trip(2, u8"Котел", 126200, 10, 60, "1");
    {
        const fs::path back_folder = there_and_back.folder_under(root);
        fs::create_directories(back_folder);
        FrameIndex index;
        index.set_path(wxString::FromUTF8((back_folder / "data.idx").string()));
        for (int i = 0; i < 120; ++i) {
            TrackPosition p = there_and_back.position(i < 60 ? i : 119 - i);
            p.frame = i;
            p.time = there_and_back.started + i;
            index.add("v.avi", static_cast<uint64_t>(i), p);
        }
    }

    trip_catalogue catalogue(root);
    catalogue.sync();
    ASSERT_EQ(catalogue.passes(there_and_back.folder_under(root)).size(), 2u);
    // Record 50 of the trip now stands at 126+500.
    const std::vector<pass_at_place> rows =
        catalogue.then_and_now(now.folder_under(root), 50, 126500.0);
    std::vector<std::string> listed;
    for (const pass_at_place& row : rows) {
        listed.push_back(row.trip.folder.filename().string() + " pass " +
                         std::to_string(row.pass.number));
        EXPECT_LE(row.distance, 5.0) << describe(row);
    }
    const auto name = [&](const synthetic_trip& t, int pass) {
        return t.folder_under(root).filename().string() + " pass " + std::to_string(pass);
    };
    EXPECT_EQ(listed, (std::vector<std::string>{name(earlier[0], 0), name(earlier[2], 0),
                                                name(earlier[6], 0), name(there_and_back, 0)}));
    // Nearest frames: 126003 + 10 * 50 lies 3 m past the place; 127004 - 10 * 50 = 126504.
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].record, 50u);
    EXPECT_EQ(rows[0].file, "v1.avi");
    EXPECT_EQ(rows[0].frame_in_file, 0);
    EXPECT_DOUBLE_EQ(rows[0].abs, 126503.0);
    EXPECT_EQ(rows[1].record, 50u);
    EXPECT_DOUBLE_EQ(rows[1].abs, 126504.0);
    EXPECT_EQ(rows[1].texts.way, "1");
    EXPECT_TRUE(rows[2].texts.way.empty());
    EXPECT_EQ(rows[3].record, 30u);
}

// The nearest frame of a pass comes from a few hundred records read from the waypoint before
// it; a long trip's every frame is found that way as reading the whole index finds it.
TEST(trip_catalogue, nearest_frames_from_waypoints_match_the_whole_index) {
    scratch_folder folder;
    const fs::path root = folder.path();
    synthetic_trip trip;
    trip.count = 2000;
    trip.step = 3.7;
    trip.write(root);
    trip_catalogue catalogue(root);
    catalogue.sync();
    const trip_index index = trip_index::read(trip.folder_under(root) / "data.idx");
    for (double abs = 125990.0; abs < 126000.0 + 2000 * 3.7 + 10; abs += 97.3) {
        track_place place;
        place.absolute = true;
        place.abs = abs;
        const std::vector<pass_at_place> rows = catalogue.passes_at(place, 25.0);
        ASSERT_EQ(rows.size(), 1u) << abs;
        EXPECT_EQ(rows[0].record, *index.nearest_to_abs(abs)) << abs;
        EXPECT_EQ(rows[0].frame_in_file, index.records()[rows[0].record].frame_in_file);
    }
    track_place far;
    far.absolute = true;
    far.abs = 200000.0;
    EXPECT_TRUE(catalogue.passes_at(far, 25.0).empty());
}
