#include "recording/split_policy.h"

split_policy::split_policy(const wxString& policy) : file_template("%dir-%way") {
    if (policy == wxString::FromUTF8("1 километр")) {
        kind = rule::kilometres;
        km_per_file = 1;
    } else if (policy == wxString::FromUTF8("5 километров")) {
        kind = rule::kilometres;
        km_per_file = 5;
    } else if (policy == wxString::FromUTF8("10 километров")) {
        kind = rule::kilometres;
        km_per_file = 10;
    } else if (policy == wxString::FromUTF8("Перегон")) {
        kind = rule::section;
        file_template = "%dir-%way-%peregon";
    } else if (policy == wxString::FromUTF8("Дистанция")) {
        kind = rule::distance;
        file_template = wxString::FromUTF8("%dir-%way_ПЧ-%pch");
    }
    if (kind == rule::kilometres)
        file_template = wxString::FromUTF8("%dir-%way_%km_км");
}

bool split_policy::split_between(const TrackPosition& last, const TrackPosition& next) {
    // A step back or a jump over several kilometres is one change, like any other.
    if (kind == rule::kilometres) {
        if (next.km == last.km)
            return false;
        if (++km_changes < km_per_file)
            return false;
        km_changes = 0;
        return true;
    }
    // The server's texts are compared byte for byte: equal bytes are equal texts.
    if (kind == rule::section)
        return next.peregon != last.peregon;
    if (kind == rule::distance)
        return next.pch != last.pch;
    return false;
}

bool split_policy::split_before(const TrackPosition& next) {
    if (!next.has_fix)
        return false;
    const bool split = split_between(last_fix, next);
    last_fix = next;
    return split;
}
