#include "archive/index_csv_export.h"

#include "trip_format/csv_line.h"

#include <fstream>
#include <system_error>

bool index_csv_export::write(const trip_index& index, const std::filesystem::path& csv_file) {
    std::filesystem::path temporary = csv_file;
    temporary += ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << "\xEF\xBB\xBF"
            << "file,frame_in_file,frame,abs,km,m,time\n";
        for (const index_record& record : index.records()) {
            csv_line line;
            line.add(index.file_of(record))
                .add(record.frame_in_file_text)
                .add(record.frame_text)
                .add(record.abs_text)
                .add(record.km_text)
                .add(record.m_text)
                .add(record.time_text);
            out << line.text() << '\n';
        }
        out.flush();
        if (!out) {
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            return false;
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, csv_file, error);
    return !error;
}
