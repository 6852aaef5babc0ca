#pragma once
// The one table of settings keys: name, stored form, default. Every reader and the settings
// dialog go through it, so a key's default is written down once.

#include <array>
#include <vector>

#include <wx/config.h>
#include <wx/string.h>

enum class setting_form {
    text,
    integer,
    boolean,
    floating,
    colour,       // any text wxColour accepts; the dialog writes rgb(R, G, B)
    font,         // native font description; empty means no font chosen
    choice_label, // the chosen entry's label text
    choice_value, // the chosen entry's integer value
};

struct setting_key {
    const char* name;
    setting_form form;
    const char* label;              // shown in the settings dialog (UTF-8)
    const char* category;           // dialog category (UTF-8)
    const char* fixed_default;      // UTF-8; nullptr where the default is computed
    std::vector<const char*> choices; // labels of a choice, UTF-8, in value order
};

// All 19 keys, in the order the dialog shows and saves them.
const std::array<setting_key, 19>& all_settings();

// The key of that name; throws std::invalid_argument for a name that is not a key.
const setting_key& find_setting(const wxString& name);

// The default of a key as text (write_path: the home folder).
wxString default_text(const setting_key& key);

// Typed reads: a missing key, or a numeric key whose text is not a number, gives the default.
wxString read_text(const wxConfigBase& config, const wxString& name);
long read_integer(const wxConfigBase& config, const wxString& name);
bool read_boolean(const wxConfigBase& config, const wxString& name);
double read_floating(const wxConfigBase& config, const wxString& name);

// The default camera stream, the same for both ends of the car.
extern const char default_camera_url[];
