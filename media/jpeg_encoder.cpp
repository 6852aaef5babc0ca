#include "media/jpeg_encoder.h"

#include "media/huffman_code.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

extern "C" {
#include <jerror.h>
#include <jpeglib.h>
}

namespace media {

namespace {

// The table libavcodec's MJPEG encoder writes at quantiser 3 (MPEG-1's intra matrix times 3/8,
// DC 8), row by row.
constexpr std::array<uint16_t, 64> libavcodec_q3_table = {
    8,  6,  7,  8,  9, 10, 10, 12, 6,  6,  8,  9,  10, 10, 12, 13, 7,  8,  9,  10, 10, 12,
    12, 14, 8,  8,  9, 10, 10, 12, 13, 15, 8,  9,  10, 10, 12, 13, 15, 18, 9,  10, 10, 12,
    13, 15, 18, 21, 9, 10, 10, 12, 14, 17, 21, 25, 10, 10, 13, 14, 17, 21, 25, 31};
// 8 % coarser than libavcodec's table: equal luma PSNR, fewer bytes than the table itself.
constexpr int video_table_percent = 108;

// libjpeg reports errors by calling error_exit, which must not return: it jumps back to the
// call that started the work, whose frame holds nothing that needs destroying.
struct error_trap {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void jump_back(j_common_ptr info) {
    auto* trap = reinterpret_cast<error_trap*>(info->err);
    (*info->err->format_message)(info, trap->message);
    std::longjmp(trap->jump, 1);
}

void stay_quiet(j_common_ptr, int) {}

// The compressed picture goes into a buffer that only ever grows, so a steady stream of
// pictures of one size allocates nothing.
struct byte_sink {
    jpeg_destination_mgr manager;
    std::vector<unsigned char> buffer;
    std::size_t used = 0;
};

// Grows the sink's buffer to at least `size` bytes; libjpeg hears of a failure through its own
// error exit. That exit jumps, so it is taken only once the C++ handler has been left: a jump
// out of a handler would leave the exception caught for ever.
void grow_or_fail(j_compress_ptr info, byte_sink& sink, std::size_t size) {
    bool grown = true;
    try {
        if (sink.buffer.size() < size)
            sink.buffer.resize(size);
    } catch (const std::exception&) {
        grown = false;
    }
    if (!grown)
        ERREXIT1(info, JERR_OUT_OF_MEMORY, 0);
}

void start_sink(j_compress_ptr info) {
    auto* sink = reinterpret_cast<byte_sink*>(info->dest);
    grow_or_fail(info, *sink,
                 std::max<std::size_t>(65536, std::size_t(info->image_width) * info->image_height));
    sink->manager.next_output_byte = sink->buffer.data();
    sink->manager.free_in_buffer = sink->buffer.size();
}

boolean grow_sink(j_compress_ptr info) {
    auto* sink = reinterpret_cast<byte_sink*>(info->dest);
    const std::size_t filled = sink->buffer.size();
    grow_or_fail(info, *sink, filled * 2);
    sink->manager.next_output_byte = sink->buffer.data() + filled;
    sink->manager.free_in_buffer = sink->buffer.size() - filled;
    return TRUE;
}

void end_sink(j_compress_ptr info) {
    auto* sink = reinterpret_cast<byte_sink*>(info->dest);
    sink->used = sink->buffer.size() - sink->manager.free_in_buffer;
}

int round_up(int value, int step) {
    return (value + step - 1) / step * step;
}

// Whether libjpeg may read the planes in place: it reads whole 8x8 blocks, so every row must
// reach the next multiple of 8 samples (rows past the bottom are pointed at the last one).
bool rows_reach_whole_blocks(const AVFrame& frame) {
    return frame.linesize[0] >= round_up(frame.width, 8) &&
           frame.linesize[1] >= round_up(frame.width / 2, 8) &&
           frame.linesize[2] >= round_up(frame.width / 2, 8);
}

void copy_code(const huffman_code& code, JHUFF_TBL& table) {
    std::memcpy(table.bits, code.counts.data(), code.counts.size());
    std::memset(table.huffval, 0, sizeof table.huffval);
    std::copy(code.symbols.begin(), code.symbols.end(), table.huffval);
    table.sent_table = FALSE;
}

huffman_code code_of(const JHUFF_TBL& table) {
    huffman_code code;
    std::memcpy(code.counts.data(), table.bits, code.counts.size());
    int total = 0;
    for (int bits = 1; bits <= 16; ++bits)
        total += table.bits[bits];
    code.symbols.assign(table.huffval, table.huffval + std::min(total, 256));
    return code;
}

} // namespace

struct jpeg_encoder::state {
    jpeg_compress_struct info{};
    error_trap errors{};
    byte_sink sink{};
};

namespace {

// Runs one compression of the picture's planes; false (with libjpeg's message in the trap) when
// libjpeg gave up. Nothing here needs destroying when libjpeg jumps out of it.
bool compress_planes(jpeg_compress_struct& info, error_trap& errors, const AVFrame& frame) {
    if (setjmp(errors.jump) != 0) {
        jpeg_abort_compress(&info);
        return false;
    }
    jpeg_start_compress(&info, TRUE);
    JSAMPROW luma_rows[16];
    JSAMPROW blue_rows[8];
    JSAMPROW red_rows[8];
    JSAMPARRAY planes[3] = {luma_rows, blue_rows, red_rows};
    const int chroma_height = frame.height / 2;
    while (info.next_scanline < info.image_height) {
        const int top = static_cast<int>(info.next_scanline);
        for (int row = 0; row < 16; ++row)
            luma_rows[row] =
                frame.data[0] + std::min(top + row, frame.height - 1) * frame.linesize[0];
        for (int row = 0; row < 8; ++row) {
            const int chroma_row = std::min(top / 2 + row, chroma_height - 1);
            blue_rows[row] = frame.data[1] + chroma_row * frame.linesize[1];
            red_rows[row] = frame.data[2] + chroma_row * frame.linesize[2];
        }
        jpeg_write_raw_data(&info, planes, 16);
    }
    jpeg_finish_compress(&info);
    return true;
}

// Sets up a compressor for raw 4:2:0 planes; libjpeg's own errors go to `errors`.
bool set_up(jpeg_compress_struct& info, error_trap& errors, byte_sink& sink) {
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jump_back;
    errors.manager.emit_message = stay_quiet;
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    sink.manager.init_destination = start_sink;
    sink.manager.empty_output_buffer = grow_sink;
    sink.manager.term_destination = end_sink;
    info.dest = &sink.manager;
    // Any size will do for the defaults; each picture sets its own.
    info.image_width = 16;
    info.image_height = 16;
    info.input_components = 3;
    info.in_color_space = JCS_YCbCr;
    jpeg_set_defaults(&info);
    jpeg_set_colorspace(&info, JCS_YCbCr);
    info.raw_data_in = TRUE;
    info.comp_info[0].h_samp_factor = 2;
    info.comp_info[0].v_samp_factor = 2;
    for (int component = 1; component < 3; ++component) {
        info.comp_info[component].h_samp_factor = 1;
        info.comp_info[component].v_samp_factor = 1;
    }
    info.dct_method = JDCT_ISLOW;
    return true;
}

std::array<uint16_t, 64> ijg_table(const JQUANT_TBL* table) {
    std::array<uint16_t, 64> values{};
    for (int i = 0; i < 64; ++i)
        values[i] = table->quantval[i];
    return values;
}

} // namespace

jpeg_settings jpeg_settings::video() {
    jpeg_settings settings;
    for (std::size_t i = 0; i < 64; ++i) {
        const int scaled = (libavcodec_q3_table[i] * video_table_percent + 50) / 100;
        settings.luma_table[i] = static_cast<uint16_t>(std::clamp(scaled, 1, 255));
    }
    settings.chroma_table = settings.luma_table;
    return settings;
}

jpeg_settings jpeg_settings::still(int quality) {
    jpeg_compress_struct info{};
    error_trap errors{};
    byte_sink sink{};
    if (!set_up(info, errors, sink))
        throw std::runtime_error(std::string("JPEG: ") + errors.message);
    jpeg_set_quality(&info, std::clamp(quality, 1, 100), TRUE);
    jpeg_settings settings;
    settings.luma_table = ijg_table(info.quant_tbl_ptrs[0]);
    settings.chroma_table = ijg_table(info.quant_tbl_ptrs[1]);
    jpeg_destroy_compress(&info);
    return settings;
}

jpeg_encoder::jpeg_encoder(const jpeg_settings& settings)
    : codec(std::make_unique<state>()), refit_interval(settings.refit_interval) {
    if (!set_up(codec->info, codec->errors, codec->sink))
        throw std::runtime_error(std::string("JPEG: ") + codec->errors.message);
    unsigned int luma[64];
    unsigned int chroma[64];
    std::copy(settings.luma_table.begin(), settings.luma_table.end(), luma);
    std::copy(settings.chroma_table.begin(), settings.chroma_table.end(), chroma);
    // Adding tables cannot fail for values in 1..255; the trap is set for the call all the same.
    if (setjmp(codec->errors.jump) != 0) {
        jpeg_destroy_compress(&codec->info);
        throw std::runtime_error(std::string("JPEG: ") + codec->errors.message);
    }
    jpeg_add_quant_table(&codec->info, 0, luma, 100, TRUE);
    jpeg_add_quant_table(&codec->info, 1, chroma, 100, TRUE);
}

jpeg_encoder::~jpeg_encoder() {
    jpeg_destroy_compress(&codec->info);
}

bool jpeg_encoder::fit_due() const {
    // A camera's first pictures may be a black start-up frame: tables fitted to it would cost
    // a fifth more bytes until the next fit, so the first fit is checked after a second.
    const auto interval =
        fits == 1
            ? std::min<std::chrono::steady_clock::duration>(std::chrono::seconds(1), refit_interval)
            : refit_interval;
    return !fitted || std::chrono::steady_clock::now() - fitted_at >= interval;
}

jpeg_bytes jpeg_encoder::encode(const video_frame& picture) {
    if (picture.empty())
        throw std::invalid_argument("no picture to encode");
    frame_handle converted;
    const AVFrame* frame = picture.av();
    if (!picture.full_range() || !rows_reach_whole_blocks(*frame)) {
        converted = picture.copy_in_range(true);
        frame = converted.get();
    }
    jpeg_compress_struct& info = codec->info;
    info.image_width = static_cast<JDIMENSION>(frame->width);
    info.image_height = static_cast<JDIMENSION>(frame->height);
    const bool fitting = fit_due();
    info.optimize_coding = fitting ? TRUE : FALSE;
    if (!compress_planes(info, codec->errors, *frame))
        throw std::runtime_error(std::string("JPEG: ") + codec->errors.message);
    if (fitting) {
        // libjpeg left the tables it fitted to this picture in place: widen them to every
        // symbol, and the following pictures need only one pass.
        for (int table = 0; table < 2; ++table) {
            copy_code(covering_code(code_of(*info.dc_huff_tbl_ptrs[table]), coefficient_kind::dc),
                      *info.dc_huff_tbl_ptrs[table]);
            copy_code(covering_code(code_of(*info.ac_huff_tbl_ptrs[table]), coefficient_kind::ac),
                      *info.ac_huff_tbl_ptrs[table]);
        }
        fitted = true;
        ++fits;
        fitted_at = std::chrono::steady_clock::now();
    }
    return jpeg_bytes{codec->sink.buffer.data(), codec->sink.used};
}

} // namespace media
