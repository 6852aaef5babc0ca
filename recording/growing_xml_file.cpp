#include "recording/growing_xml_file.h"

#include "platform/durable_file.h"

#include <utility>

namespace {

// Opens a processing instruction after the root's end: what follows it up to the closing
// mark is no part of the document.
constexpr std::string_view staging_opener = "<?k ";
// A whole processing instruction: alone after the root it is harmless; after the opener it
// ends the staged instruction.
constexpr std::string_view staging_closer = "<?z ?>";

uint64_t next_page_start(uint64_t offset) {
    const uint64_t page = platform::durable_file::page_size();
    return (offset / page + 1) * page;
}

} // namespace

growing_xml_file::growing_xml_file(std::filesystem::path path) : path(std::move(path)) {}

bool growing_xml_file::create(std::string_view document, size_t closing_bytes) {
    if (!platform::replace_file(path, document))
        return false;
    closing_tag = std::string(document.substr(document.size() - closing_bytes));
    end = document.size();
    return true;
}

bool growing_xml_file::awkward_size(uint64_t size, size_t closing_bytes) const {
    const uint64_t tag_at = size - closing_bytes;
    return next_page_start(tag_at) - tag_at < closing_bytes + staging_opener.size();
}

bool growing_xml_file::append(std::string_view children) {
    if (!created() || closing_tag.empty())
        return false;
    platform::durable_file file(path);
    if (!file.is_open())
        return false;
    const uint64_t tag_at = end - closing_tag.size();
    // The file must still end as this object left it; a staging that was cut short lies
    // beyond that end and is dropped first.
    const auto size = file.size();
    if (!size || *size < end || file.read_at(tag_at, closing_tag.size()) != closing_tag)
        return false;
    if (*size > end && !file.truncate(end))
        return false;
    if (awkward_size(end, closing_tag.size()))
        return rewrite(file, tag_at, children);
    return write_children(file, tag_at, children);
}

bool growing_xml_file::write_children(platform::durable_file& file, uint64_t tag_at,
                                      std::string_view children) {
    std::string tail(children);
    tail += closing_tag;
    const uint64_t new_end = tag_at + tail.size();
    const uint64_t page_end = next_page_start(tag_at);
    if (new_end <= page_end) {
        // Within one page: a single write is whole or not at all.
        if (!file.write_at(tag_at, tail) || !file.sync())
            return false;
        end = new_end;
        return true;
    }
    // Staged beyond the root's end: blanks and a closing mark (never across a page, so never
    // cut in half), then the opener right after the closing tag, then everything past this
    // page. Any cut leaves the staged text inside the instruction.
    uint64_t closer_at = new_end;
    if (next_page_start(closer_at) - closer_at < staging_closer.size())
        closer_at = next_page_start(closer_at);
    const uint64_t staging_at = end;
    std::string blanks(closer_at - staging_at, ' ');
    blanks += staging_closer;
    const uint64_t head_size = page_end - tag_at;
    if (!file.write_at(staging_at, blanks) || !file.write_at(staging_at, staging_opener) ||
        !file.write_at(page_end, std::string_view(tail).substr(head_size)) || !file.sync())
        return false;
    // The commit: one write within this page turns the closing tag and the opener into the
    // first new children, and what was staged becomes the rest of them.
    if (!file.write_at(tag_at, std::string_view(tail).substr(0, head_size)))
        return false;
    end = new_end;
    // Blanks and a closing mark after the root are harmless if this does not happen; the next
    // append drops them.
    if (file.truncate(new_end))
        file.sync();
    return true;
}

bool growing_xml_file::rewrite(platform::durable_file& file, uint64_t tag_at,
                               std::string_view children) {
    auto document = file.read_at(0, tag_at);
    if (!document)
        return false;
    *document += children;
    *document += closing_tag;
    if (!platform::replace_file(path, *document))
        return false;
    end = document->size();
    return true;
}
