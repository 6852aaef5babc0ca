#include "archive/trip_index.h"

#include "trip_format/field_text.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <expat.h>
#include <memory>
#include <string_view>

namespace {

// Whole text as a number; a decimal comma (an index written under a Russian numeric locale)
// counts as a full stop.
template <typename Number> bool parse_number(const std::string& text, Number& value) {
    if (text.find(',') == std::string::npos)
        return parse_field(text, value);
    std::string dotted = text;
    for (char& c : dotted)
        if (c == ',')
            c = '.';
    return parse_field(dotted, value);
}

template <typename Distance>
std::optional<size_t> nearest(const std::vector<index_record>& records, Distance distance) {
    std::optional<size_t> best;
    double best_distance = 0.0;
    for (size_t i = 0; i < records.size(); ++i) {
        const double d = distance(records[i]);
        if (!best || d < best_distance) {
            best = i;
            best_distance = d;
        }
    }
    return best;
}

struct parse_state {
    trip_index* index;
    XML_Parser parser;
    // A part of the file is read behind an opening tag of our own: offsets in the parser's
    // input are off by its length and by where the part starts.
    uint64_t base = 0;
    size_t wanted = 0;
    int depth = 0;
};

void on_start(void* data, const XML_Char* name, const XML_Char** attributes) {
    auto* const state = static_cast<parse_state*>(data);
    ++state->depth;
    if (state->depth == 1 && std::strcmp(name, "section") != 0) {
        state->index->set_problem(std::string("root element is <") + name + ">, not <section>");
        XML_StopParser(state->parser, XML_FALSE);
        return;
    }
    if (state->depth != 2 || std::strcmp(name, "frame") != 0)
        return;
    const uint64_t offset =
        state->base + static_cast<uint64_t>(XML_GetCurrentByteIndex(state->parser));
    if (!state->index->add(attributes, offset)) {
        state->index->set_problem("record " + std::to_string(state->index->records().size() + 1) +
                                  " lacks an attribute or has one that is not a number");
        XML_StopParser(state->parser, XML_FALSE);
    } else if (state->index->records().size() == state->wanted) {
        XML_StopParser(state->parser, XML_FALSE);
    }
}

void on_end(void* data, const XML_Char*) {
    --static_cast<parse_state*>(data)->depth;
}

struct parser_deleter {
    void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};
struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

trip_index trip_index::read(const std::filesystem::path& index_file) {
    return parse(index_file, 0, 0);
}

trip_index trip_index::read_part(const std::filesystem::path& index_file, uint64_t offset,
                                 size_t count) {
    if (count == 0)
        return {};
    return parse(index_file, offset, count);
}

trip_index trip_index::parse(const std::filesystem::path& index_file, uint64_t offset,
                             size_t count) {
    trip_index index;
    const std::unique_ptr<std::FILE, file_closer> file(std::fopen(index_file.c_str(), "rb"));
    if (!file) {
        index.file_missing = true;
        index.set_problem("cannot be opened");
        return index;
    }
    const std::unique_ptr<XML_ParserStruct, parser_deleter> parser(XML_ParserCreate("UTF-8"));
    if (!parser)
        throw std::bad_alloc();
    constexpr std::string_view part_opening = "<section>";
    const bool part = count > 0;
    parse_state state{&index, parser.get(), part ? offset - part_opening.size() : 0, count};
    XML_SetUserData(parser.get(), &state);
    XML_SetElementHandler(parser.get(), on_start, on_end);
    if (part) {
        if (fseeko(file.get(), static_cast<off_t>(offset), SEEK_SET) != 0) {
            index.set_problem("cannot be read from byte " + std::to_string(offset));
            return index;
        }
        XML_Parse(parser.get(), part_opening.data(), static_cast<int>(part_opening.size()),
                  XML_FALSE);
        index.frames.reserve(count);
    } else {
        // About 150 bytes a record: one allocation for the records of a long trip.
        std::error_code size_error;
        const auto bytes = std::filesystem::file_size(index_file, size_error);
        if (!size_error)
            index.frames.reserve(static_cast<size_t>(bytes / 150));
    }
    // A part is a few hundred records: a small buffer reads little past them.
    std::vector<char> buffer(part ? 1 << 14 : 1 << 16);
    for (;;) {
        const size_t got = std::fread(buffer.data(), 1, buffer.size(), file.get());
        const bool last = got < buffer.size();
        const XML_Status status =
            XML_Parse(parser.get(), buffer.data(), static_cast<int>(got), last && !part);
        if (part && index.records().size() == count)
            return index;
        if (status == XML_STATUS_ERROR) {
            if (index.problem().empty())
                index.set_problem(std::string(XML_ErrorString(XML_GetErrorCode(parser.get()))) +
                                  " at line " +
                                  std::to_string(XML_GetCurrentLineNumber(parser.get())));
            return index;
        }
        if (last)
            return index;
    }
}

bool trip_index::add(const char* const* attributes, uint64_t offset) {
    index_record record;
    record.offset = offset;
    const char* file = nullptr;
    for (const char* const* a = attributes; a[0] != nullptr; a += 2) {
        const std::string_view name = a[0];
        if (name == "file")
            file = a[1];
        else if (name == "frame_in_file")
            record.frame_in_file_text = a[1];
        else if (name == "frame")
            record.frame_text = a[1];
        else if (name == "abscoord")
            record.abs_text = a[1];
        else if (name == "km")
            record.km_text = a[1];
        else if (name == "m")
            record.m_text = a[1];
        else if (name == "time")
            record.time_text = a[1];
    }
    if (file == nullptr || !parse_number(record.frame_in_file_text, record.frame_in_file) ||
        !parse_number(record.frame_text, record.frame) ||
        !parse_number(record.abs_text, record.abs) || !parse_number(record.km_text, record.km) ||
        !parse_number(record.m_text, record.m) || record.frame_in_file < 0)
        return false;
    record.file = file_number(file);
    frames.push_back(std::move(record));
    return true;
}

uint32_t trip_index::file_number(const char* name) {
    // Records of one file come together: the last name is nearly always the one.
    if (!file_names.empty() && file_names.back() == name)
        return static_cast<uint32_t>(file_names.size() - 1);
    for (size_t i = 0; i < file_names.size(); ++i)
        if (file_names[i] == name)
            return static_cast<uint32_t>(i);
    file_names.emplace_back(name);
    return static_cast<uint32_t>(file_names.size() - 1);
}

std::optional<size_t> trip_index::nearest_to_place(int32_t km, double m) const {
    const double wanted = linear_place(km, m);
    return nearest(frames,
                   [wanted](const index_record& r) { return std::fabs(r.place() - wanted); });
}

std::optional<size_t> trip_index::nearest_to_abs(double abs) const {
    return nearest(frames, [abs](const index_record& r) { return std::fabs(r.abs - abs); });
}

std::optional<size_t> trip_index::nearest_to_frame(int32_t frame) const {
    return nearest(frames, [frame](const index_record& r) {
        return std::fabs(static_cast<double>(r.frame) - frame);
    });
}

size_t trip_index::step_by_distance(size_t from, double metres) const {
    if (frames.empty())
        return 0;
    const double start = frames[from].abs;
    const double wanted = std::fabs(metres);
    if (metres >= 0) {
        for (size_t i = from + 1; i < frames.size(); ++i)
            if (std::fabs(frames[i].abs - start) >= wanted)
                return i;
        return frames.size() - 1;
    }
    for (size_t i = from; i-- > 0;)
        if (std::fabs(frames[i].abs - start) >= wanted)
            return i;
    return 0;
}
