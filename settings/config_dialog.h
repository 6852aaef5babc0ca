#pragma once
// The settings dialog: one property grid over every settings key. Confirming writes all keys
// into the store; the caller flushes the file. Nothing else leaves the dialog.

#include <map>
#include <wx/config.h>
#include <wx/dialog.h>
#include <wx/string.h>

class wxPGProperty;
class wxPropertyGrid;
struct setting_key;

class config_dialog : public wxDialog {
public:
    config_dialog(wxWindow* parent, wxConfigBase* config);
    ~config_dialog() override;

private:
    void on_ok(wxCommandEvent& event);
    void on_cancel(wxCommandEvent& event);

    void append_properties();
    wxPGProperty* make_property(const setting_key& key);
    wxPGProperty* make_label_choice(const setting_key& key);
    wxPGProperty* make_value_choice(const setting_key& key);
    void write_property(const setting_key& key);
    wxString chosen_label(const setting_key& key) const;
    long chosen_value(const setting_key& key) const;

    wxPropertyGrid* grid;
    wxConfigBase* config; // not owned
    // Enumerations that opened with a stored value none of their entries has, by key: left
    // untouched, they write back what was stored.
    std::map<wxString, wxString> unmatched_labels;
    std::map<wxString, long> unmatched_values;

    wxDECLARE_EVENT_TABLE();
};
