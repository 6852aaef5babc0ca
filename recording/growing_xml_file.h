#pragma once
// An XML file whose root element only grows at its end. New children are written in place, so a
// save costs what is new, not what the file already holds, and in an order that leaves a document
// that parses, with every child of the last completed write, wherever the process is killed:
// what is new is first written beyond the root's end inside a processing instruction, then one
// write that lies within a single memory page turns it into the root's last children.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace platform {
class durable_file;
}

class growing_xml_file {
public:
    explicit growing_xml_file(std::filesystem::path path);

    // Replaces the file with a whole document whose last `closing_bytes` bytes are the root's
    // closing tag with its line end, e.g. "</section>\n".
    bool create(std::string_view document, size_t closing_bytes);
    // Writes the children (whole elements, no "?>" in them, as an XML writer escapes ">") just
    // before the closing tag. False when the file could not be written or is no longer as this
    // object left it; it then holds what it held.
    bool append(std::string_view children);

    bool created() const { return end > 0; }
    uint64_t size() const { return end; }
    // Whether a file of that size, ending with the closing tag, would leave the tag where the
    // next append cannot be made in place: too near the end of a memory page.
    bool awkward_size(uint64_t size, size_t closing_bytes) const;

private:
    // Writes the children before the closing tag at `tag_at` in the open file.
    bool write_children(platform::durable_file& file, uint64_t tag_at, std::string_view children);
    // The rare case of a closing tag at the very end of a page: the whole file again, in one step.
    bool rewrite(platform::durable_file& file, uint64_t tag_at, std::string_view children);

    std::filesystem::path path;
    std::string closing_tag;
    uint64_t end = 0; // the file's size after the last completed write; 0 before create
};
