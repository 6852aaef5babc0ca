#include "camera/live_picture.h"

#include <wx/graphics.h>

#ifdef __WXGTK3__
#include <cairo.h>
#else
#include <opencv2/imgproc.hpp>
#include <wx/image.h>
#endif

#ifdef __WXGTK3__

// On GTK every drawing context is cairo's: the picture lives in an image surface of cairo's
// native 32-bit layout, which it paints without any conversion.
struct live_picture::surface {
    explicit surface(cv::Size size)
        : image(cairo_image_surface_create(CAIRO_FORMAT_RGB24, size.width, size.height)) {}
    ~surface() { cairo_surface_destroy(image); }
    surface(const surface&) = delete;
    surface& operator=(const surface&) = delete;

    // Nothing when cairo could not make the surface (no memory for it): the picture is then
    // converted into memory of its own and the pane stays blank.
    cv::Mat pixels() const {
        if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS)
            return {};
        return cv::Mat(cairo_image_surface_get_height(image), cairo_image_surface_get_width(image),
                       CV_8UC4, cairo_image_surface_get_data(image),
                       static_cast<size_t>(cairo_image_surface_get_stride(image)));
    }
    void begin_writing() { cairo_surface_flush(image); }
    void end_writing() { cairo_surface_mark_dirty(image); }
    void draw(wxGraphicsContext& context, const cv::Mat&) const {
        auto* const cairo = static_cast<cairo_t*>(context.GetNativeContext());
        cairo_save(cairo);
        cairo_set_source_surface(cairo, image, 0, 0);
        cairo_paint(cairo);
        cairo_restore(cairo);
    }

    cairo_surface_t* image;
};

#else

// Elsewhere the toolkit takes the picture as an image of RGB bytes, made at each paint.
struct live_picture::surface {
    explicit surface(cv::Size size) : memory(size, CV_8UC4) {}

    cv::Mat pixels() const { return memory; }
    void begin_writing() {}
    void end_writing() {}
    void draw(wxGraphicsContext& context, const cv::Mat& bgrx) const {
        cv::Mat rgb;
        cv::cvtColor(bgrx, rgb, cv::COLOR_BGRA2RGB);
        const wxImage picture(rgb.cols, rgb.rows, rgb.data, true);
        context.DrawBitmap(context.CreateBitmapFromImage(picture), 0, 0, rgb.cols, rgb.rows);
    }

    cv::Mat memory;
};

#endif

live_picture::live_picture() = default;
live_picture::~live_picture() = default;

void live_picture::make_surface(cv::Size size) {
    pixels.release();
    target = std::make_unique<surface>(size);
    pixels = target->pixels();
}

void live_picture::show(const media::video_frame& frame, cv::Size size) {
    const cv::Size shown = media::even_size(size);
    if (!target || pixels.size() != shown)
        make_surface(shown);
    target->begin_writing();
    frame.to_bgrx_scaled(shown, pixels, packed);
    target->end_writing();
}

void live_picture::draw(wxGraphicsContext& context) const {
    if (target)
        target->draw(context, pixels);
}
