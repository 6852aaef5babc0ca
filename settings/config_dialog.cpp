#include "settings/config_dialog.h"

#include "platform/text.h"
#include "settings/settings_store.h"

#include <wx/button.h>
#include <wx/colour.h>
#include <wx/font.h>
#include <wx/propgrid/advprops.h>
#include <wx/propgrid/propgrid.h>
#include <wx/propgrid/props.h>
#include <wx/sizer.h>

using platform::utf8;

namespace {

wxArrayString choice_labels(const setting_key& key) {
    wxArrayString labels;
    for (const char* label : key.choices)
        labels.Add(utf8(label));
    return labels;
}

wxArrayInt choice_values(const setting_key& key) {
    wxArrayInt values;
    for (size_t value = 0; value < key.choices.size(); ++value)
        values.Add(static_cast<int>(value));
    return values;
}

bool is_folder(const setting_key& key) {
    return wxString(key.name) == "write_path";
}

} // namespace

config_dialog::config_dialog(wxWindow* parent, wxConfigBase* config)
    : wxDialog(parent, wxID_ANY, wxString::FromUTF8("Настройка программы"), wxDefaultPosition,
               wxGetDisplaySize().Scale(0.7, 0.7), wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      grid(nullptr), config(config) {
    wxPropertyGridInterface::SetBoolChoices(utf8("Да"), utf8("Нет"));

    grid = new wxPropertyGrid(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, 0);
    auto* ok = new wxButton(this, wxID_OK, "Ok", wxDefaultPosition, wxDefaultSize, wxBORDER_NONE);
    auto* cancel = new wxButton(this, wxID_CANCEL, utf8("Отмена"), wxDefaultPosition, wxDefaultSize,
                                wxBORDER_NONE);

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->Add(ok, 0, wxALL, 10);
    buttons->Add(cancel, 0, wxALL, 10);
    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(grid, 1, wxEXPAND | wxALL, 10);
    column->Add(buttons, 0, wxALIGN_RIGHT, 0);

    append_properties();

    SetSizer(column);
    Center(wxBOTH);
}

config_dialog::~config_dialog() = default;

void config_dialog::append_properties() {
    wxString category;
    for (const setting_key& key : all_settings()) {
        if (category != utf8(key.category)) {
            category = utf8(key.category);
            grid->Append(new wxPropertyCategory(category, category));
        }
        grid->Append(make_property(key));
    }
}

wxPGProperty* config_dialog::make_property(const setting_key& key) {
    const wxString label = utf8(key.label);
    const wxString name = key.name;
    switch (key.form) {
    case setting_form::integer:
        return new wxIntProperty(label, name, read_integer(*config, name));
    case setting_form::boolean:
        return new wxBoolProperty(label, name, read_boolean(*config, name));
    case setting_form::floating:
        return new wxFloatProperty(label, name, read_floating(*config, name));
    case setting_form::colour:
        return new wxColourProperty(label, name, wxColour(read_text(*config, name)));
    case setting_form::font:
        return new wxFontProperty(label, name, wxFont(read_text(*config, name)));
    case setting_form::choice_label:
        return make_label_choice(key);
    case setting_form::choice_value:
        return make_value_choice(key);
    case setting_form::text:
        break;
    }
    if (is_folder(key))
        return new wxDirProperty(label, name, read_text(*config, name));
    return new wxStringProperty(label, name, read_text(*config, name));
}

wxPGProperty* config_dialog::make_label_choice(const setting_key& key) {
    const wxString stored = read_text(*config, key.name);
    const wxArrayString labels = choice_labels(key);
    const int index = labels.Index(stored, true);
    if (index == wxNOT_FOUND)
        unmatched_labels[key.name] = stored;
    return new wxEnumProperty(utf8(key.label), key.name, labels, choice_values(key), index);
}

wxPGProperty* config_dialog::make_value_choice(const setting_key& key) {
    const long stored = read_integer(*config, key.name);
    wxPGChoices choices(choice_labels(key), choice_values(key));
    if (choices.Index(static_cast<int>(stored)) == wxNOT_FOUND)
        unmatched_values[key.name] = stored;
    return new wxEnumProperty(utf8(key.label), key.name, choices, static_cast<int>(stored));
}

void config_dialog::on_ok(wxCommandEvent&) {
    for (const setting_key& key : all_settings())
        write_property(key);
    EndModal(wxID_OK);
}

void config_dialog::on_cancel(wxCommandEvent&) {
    EndModal(wxID_CANCEL);
}

void config_dialog::write_property(const setting_key& key) {
    const wxString name = key.name;
    switch (key.form) {
    case setting_form::boolean:
        config->Write(name, grid->GetPropertyValueAsBool(name));
        return;
    case setting_form::colour: {
        wxColour colour;
        colour << grid->GetPropertyValue(name);
        config->Write(name, colour.GetAsString(wxC2S_CSS_SYNTAX));
        return;
    }
    case setting_form::font: {
        wxFont font;
        font << grid->GetPropertyValue(name);
        config->Write(name, font.IsOk() ? font.GetNativeFontInfoDesc() : wxString());
        return;
    }
    case setting_form::choice_label:
        config->Write(name, chosen_label(key));
        return;
    case setting_form::choice_value:
        config->Write(name, static_cast<int>(chosen_value(key)));
        return;
    case setting_form::text:
    case setting_form::integer:
    case setting_form::floating:
        config->Write(name, grid->GetPropertyValueAsString(name));
        return;
    }
}

wxString config_dialog::chosen_label(const setting_key& key) const {
    const auto unmatched = unmatched_labels.find(key.name);
    if (unmatched != unmatched_labels.end() &&
        grid->GetProperty(key.name)->GetChoiceSelection() == wxNOT_FOUND)
        return unmatched->second;
    return grid->GetPropertyValueAsString(key.name);
}

long config_dialog::chosen_value(const setting_key& key) const {
    const auto unmatched = unmatched_values.find(key.name);
    if (unmatched != unmatched_values.end() &&
        grid->GetProperty(key.name)->GetChoiceSelection() == wxNOT_FOUND)
        return unmatched->second;
    return grid->GetPropertyValueAsInt(key.name);
}

// Left unformatted to the end of the file: the table macros read as a block.
// clang-format off
wxBEGIN_EVENT_TABLE(config_dialog, wxDialog)
    EVT_BUTTON(wxID_OK, config_dialog::on_ok)
    EVT_BUTTON(wxID_CANCEL, config_dialog::on_cancel)
wxEND_EVENT_TABLE()
