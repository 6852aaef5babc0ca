#include "archive/index_csv_export.h"

#include "archive/whole_output_file.h"
#include "trip_format/csv_line.h"

#include <fstream>
#include <stdexcept>

bool index_csv_export::write(const trip_index& index, const std::filesystem::path& csv_file) {
    try {
        whole_output_file output(csv_file);
        {
            std::ofstream out(output.temporary(), std::ios::binary | std::ios::trunc);
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
            out.close();
            if (!out)
                return false;
        }
        output.keep();
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}
