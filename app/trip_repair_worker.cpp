#include "app/trip_repair_worker.h"

#include "archive/trip_repair.h"

wxDEFINE_EVENT(trip_repair_row_event, wxThreadEvent);

trip_repair_worker::trip_repair_worker(wxEvtHandler* owner, const std::filesystem::path& write_path)
    : worker([this, owner, write_path] {
          archive::repair_cut_trips(
              write_path, [this] { return !stopping.load(); },
              [owner](const archive::trip_repair_report& report) {
                  auto* row = new wxThreadEvent(trip_repair_row_event);
                  row->SetString(wxString::FromUTF8(report.row()));
                  row->SetInt(report.complete() ? 0 : 1);
                  wxQueueEvent(owner, row);
              });
      }) {}

trip_repair_worker::~trip_repair_worker() {
    stopping = true;
    worker.join();
}
