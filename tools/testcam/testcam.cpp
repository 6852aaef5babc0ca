// A test camera: a real RTSP server on 127.0.0.1 that serves a moving synthetic picture with
// the running time and a frame counter drawn into it, or a recorded H.264 stream in a loop. The
// first stdout line is the URL.

#include "camera_picture.h"
#include "stream_replay.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <glib-unix.h>
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

const char usage[] =
    "usage: kestrel-testcam [--port N] [--size WxH] [--fps N] [--codec h264|mjpeg]\n"
    "                       [--path /cam] [--pattern ball|camera|...] [--bframes N]\n"
    "                       [--user NAME:PASSWORD]\n"
    "       kestrel-testcam --replay FILE [--port N] [--fps N] [--path /cam]\n"
    "\n"
    "Serves rtsp://127.0.0.1:PORT/PATH and prints \"url <that URL>\" as the first line.\n"
    "  --port N     TCP port; 0 (the default) picks a free one\n"
    "  --size WxH   picture size, default 640x480\n"
    "  --fps N      frames per second, default 25\n"
    "  --codec C    h264 (x264, default) or mjpeg\n"
    "  --path P     mount path, default /cam\n"
    "  --pattern P  videotestsrc pattern, default ball (a moving ball on black), or camera:\n"
    "               a moving fine texture under noise, H.264 at about 6 Mbit/s for 1080p25\n"
    "  --bframes N  H.264 with N B-frames between reference pictures (Main profile), as many\n"
    "               shop cameras send; default 0\n"
    "  --user U:P   ask for Basic authentication: only that user with that password gets the\n"
    "               stream (a wrong one gets 401 Unauthorized)\n"
    "  --replay F   serve the H.264 stream in file F (Annex B, as ffmpeg writes with\n"
    "               -c copy -bsf:v h264_mp4toannexb -f h264) in a loop, without encoding\n"
    "               again: from its first key frame, at --fps pictures a second, stamped\n"
    "               live at that pace, so time runs on across the loop; the file's own size\n"
    "               and codec count, so --size, --codec and --pattern do not go with it\n"
    "\n"
    "Signals:\n"
    "  SIGUSR1      stop serving: drop every client and close the listening socket\n"
    "               (a network loss as the recorder sees it); prints \"stopped\"\n"
    "  SIGUSR2      serve again on the same port and path; prints \"serving\"\n"
    "  SIGINT, SIGTERM  stop and exit 0\n"
    "Running the program again with the same --port also brings the same URL back.\n";

struct options {
    int port = 0;
    int width = 640;
    int height = 480;
    int fps = 25;
    std::string codec = "h264";
    std::string path = "/cam";
    std::string pattern = "ball";
    int bframes = 0;
    std::string user;            // NAME:PASSWORD; empty: no authentication
    std::string replay;          // empty: a synthetic picture
    bool picture_chosen = false; // --size, --codec or --pattern given
};

bool parse_size(const char* text, options& opts) {
    return std::sscanf(text, "%dx%d", &opts.width, &opts.height) == 2 && opts.width > 0 &&
           opts.height > 0;
}

bool parse_options(int argc, char** argv, options& opts) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            std::exit(0);
        }
        if (i + 1 >= argc)
            return false;
        const char* value = argv[++i];
        if (arg == "--port")
            opts.port = std::atoi(value);
        else if (arg == "--size") {
            if (!parse_size(value, opts))
                return false;
            opts.picture_chosen = true;
        } else if (arg == "--fps")
            opts.fps = std::atoi(value);
        else if (arg == "--codec") {
            opts.codec = value;
            opts.picture_chosen = true;
        } else if (arg == "--path")
            opts.path = value;
        else if (arg == "--pattern") {
            opts.pattern = value;
            opts.picture_chosen = true;
        } else if (arg == "--bframes") {
            opts.bframes = std::atoi(value);
            opts.picture_chosen = true;
        } else if (arg == "--user")
            opts.user = value;
        else if (arg == "--replay")
            opts.replay = value;
        else
            return false;
    }
    const bool known_codec = opts.codec == "h264" || opts.codec == "mjpeg";
    const bool one_picture = opts.replay.empty() || !opts.picture_chosen;
    const bool user_ok = opts.user.empty() || opts.user.find(':') != std::string::npos;
    const bool bframes_ok =
        opts.bframes >= 0 && opts.bframes <= 4 && (opts.bframes == 0 || opts.codec == "h264");
    return known_codec && one_picture && user_ok && bframes_ok && opts.fps > 0 && opts.port >= 0 &&
           opts.port < 65536 && !opts.path.empty() && opts.path[0] == '/';
}

std::string raw_caps(const options& opts) {
    return "video/x-raw,width=" + std::to_string(opts.width) +
           ",height=" + std::to_string(opts.height) + ",framerate=" + std::to_string(opts.fps) +
           "/1";
}

// The picture before the overlays: a videotestsrc pattern, or the camera-like picture pushed in
// by camera_picture.
std::string picture_source(const options& opts) {
    if (opts.pattern != "camera")
        return "videotestsrc is-live=true motion=wavy pattern=" + opts.pattern + " ! " +
               raw_caps(opts);
    // A late consumer drops old pictures rather than letting them pile up.
    return std::string("appsrc name=") + camera_picture::source_name() +
           " is-live=true format=time do-timestamp=true max-buffers=2 leaky-type=downstream "
           "caps=video/x-raw,format=I420,width=" +
           std::to_string(opts.width) + ",height=" + std::to_string(opts.height) +
           ",framerate=" + std::to_string(opts.fps) + "/1";
}

// About what a 1080p camera sends: a flat test pattern needs far less.
int h264_bitrate_kbit(const options& opts) {
    if (opts.pattern != "camera")
        return 2048;
    const double pixels = static_cast<double>(opts.width) * opts.height;
    return static_cast<int>(6000.0 * pixels / (1920.0 * 1080.0) * opts.fps / 25.0) + 1;
}

std::string launch_line(const options& opts) {
    if (!opts.replay.empty())
        // The file's units as they are: a recording made as the man page shows already has
        // the parameter sets before each key frame, and the session description has them too.
        return std::string("( appsrc name=") + stream_replay::source_name() +
               " is-live=true format=time ! h264parse ! "
               "rtph264pay name=pay0 pt=96 )";
    // Both RTP payloaders take 4:2:0 pictures.
    const std::string source =
        picture_source(opts) +
        " ! timeoverlay halignment=left valignment=top font-desc=\"Sans 20\" ! "
        "textoverlay name=counter halignment=right valignment=top font-desc=\"Sans 20\" "
        "text=\"frame 0\" ! videoconvert ! video/x-raw,format=I420 ! ";
    const int keyframe_interval = opts.fps;
    // B-frames need the encoder's look-ahead, which the zero-latency tuning turns off.
    const std::string h264_tuning =
        opts.bframes > 0 ? "bframes=" + std::to_string(opts.bframes) + " b-adapt=false"
                         : std::string("tune=zerolatency");
    // The payloader would settle for Baseline, which has no B-frames.
    const std::string h264_profile =
        opts.bframes > 0 ? " ! video/x-h264,profile=main" : std::string();
    const std::string encoder =
        opts.codec == "h264"
            ? "x264enc " + h264_tuning +
                  " speed-preset=ultrafast key-int-max=" + std::to_string(keyframe_interval) +
                  " bitrate=" + std::to_string(h264_bitrate_kbit(opts)) + h264_profile +
                  " ! rtph264pay name=pay0 pt=96"
            : "jpegenc quality=85 ! rtpjpegpay name=pay0 pt=26";
    return "( " + source + encoder + " )";
}

// Writes "frame N" into the counter overlay before each picture passes through it.
GstPadProbeReturn count_frame(GstPad*, GstPadProbeInfo*, gpointer user_data) {
    auto* overlay = static_cast<GstElement*>(user_data);
    auto* counter = static_cast<guint64*>(g_object_get_data(G_OBJECT(overlay), "frames"));
    const std::string text = "frame " + std::to_string((*counter)++);
    g_object_set(overlay, "text", text.c_str(), nullptr);
    return GST_PAD_PROBE_OK;
}

// What a new media is fed from, when not from a videotestsrc of its own.
struct picture_feeds {
    std::unique_ptr<camera_picture> synthetic;
    std::unique_ptr<stream_replay> recorded;
};

void on_media_configure(GstRTSPMediaFactory*, GstRTSPMedia* media, gpointer data) {
    auto* feeds = static_cast<picture_feeds*>(data);
    GstElement* bin = gst_rtsp_media_get_element(media);
    if (GstElement* pictures = gst_bin_get_by_name(GST_BIN(bin), camera_picture::source_name())) {
        feeds->synthetic->attach(pictures);
        gst_object_unref(pictures);
    }
    if (GstElement* units = gst_bin_get_by_name(GST_BIN(bin), stream_replay::source_name())) {
        feeds->recorded->attach(units);
        gst_object_unref(units);
    }
    GstElement* overlay = gst_bin_get_by_name(GST_BIN(bin), "counter");
    if (overlay) {
        g_object_set_data_full(G_OBJECT(overlay), "frames", g_new0(guint64, 1), g_free);
        GstPad* pad = gst_element_get_static_pad(overlay, "video_sink");
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, count_frame, overlay, nullptr);
        gst_object_unref(pad);
        gst_object_unref(overlay);
    }
    gst_object_unref(bin);
}

struct camera {
    GstRTSPServer* server = nullptr;
    GMainLoop* loop = nullptr;
    guint source_id = 0;
};

GstRTSPFilterResult drop_client(GstRTSPServer*, GstRTSPClient*, gpointer) {
    return GST_RTSP_FILTER_REMOVE;
}

// Only `user` ("NAME:PASSWORD") may construct and see the stream.
void require_login(GstRTSPServer* server, GstRTSPMediaFactory* factory, const std::string& user) {
    const std::string name = user.substr(0, user.find(':'));
    const std::string password = user.substr(user.find(':') + 1);
    GstRTSPAuth* auth = gst_rtsp_auth_new();
    GstRTSPToken* token =
        gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, "user", nullptr);
    gchar* basic = gst_rtsp_auth_make_basic(name.c_str(), password.c_str());
    gst_rtsp_auth_add_basic(auth, basic, token);
    g_free(basic);
    gst_rtsp_token_unref(token);
    gst_rtsp_server_set_auth(server, auth);
    g_object_unref(auth);
    gst_rtsp_media_factory_add_role(factory, "user", GST_RTSP_PERM_MEDIA_FACTORY_ACCESS,
                                    G_TYPE_BOOLEAN, TRUE, GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT,
                                    G_TYPE_BOOLEAN, TRUE, nullptr);
}

bool start_serving(camera& cam) {
    cam.source_id = gst_rtsp_server_attach(cam.server, nullptr);
    return cam.source_id != 0;
}

void stop_serving(camera& cam) {
    if (cam.source_id == 0)
        return;
    // Destroying the source closes the listening socket; the filter closes every client.
    g_source_remove(cam.source_id);
    cam.source_id = 0;
    gst_rtsp_server_client_filter(cam.server, drop_client, nullptr);
}

gboolean on_quit(gpointer data) {
    g_main_loop_quit(static_cast<camera*>(data)->loop);
    return G_SOURCE_CONTINUE;
}

gboolean on_stop(gpointer data) {
    stop_serving(*static_cast<camera*>(data));
    std::puts("stopped");
    std::fflush(stdout);
    return G_SOURCE_CONTINUE;
}

gboolean on_restart(gpointer data) {
    auto& cam = *static_cast<camera*>(data);
    if (cam.source_id == 0 && !start_serving(cam)) {
        std::fputs("cannot listen again\n", stderr);
        g_main_loop_quit(cam.loop);
        return G_SOURCE_REMOVE;
    }
    std::puts("serving");
    std::fflush(stdout);
    return G_SOURCE_CONTINUE;
}

} // namespace

int main(int argc, char** argv) {
    options opts;
    if (!parse_options(argc, argv, opts)) {
        std::fputs(usage, stderr);
        return 2;
    }
    gst_init(nullptr, nullptr);
    picture_feeds feeds;
    try {
        if (!opts.replay.empty())
            feeds.recorded = std::make_unique<stream_replay>(opts.replay, opts.fps);
    } catch (const std::runtime_error& failure) {
        std::fprintf(stderr, "cannot replay %s\n", failure.what());
        return 1;
    }
    if (opts.replay.empty() && opts.pattern == "camera")
        feeds.synthetic = std::make_unique<camera_picture>(opts.width, opts.height, opts.fps);

    camera cam;
    cam.loop = g_main_loop_new(nullptr, FALSE);
    cam.server = gst_rtsp_server_new();
    gst_rtsp_server_set_address(cam.server, "127.0.0.1");
    gst_rtsp_server_set_service(cam.server, std::to_string(opts.port).c_str());

    GstRTSPMediaFactory* factory = gst_rtsp_media_factory_new();
    gst_rtsp_media_factory_set_launch(factory, launch_line(opts).c_str());
    // One encoder for every client: a second screen and a reference decoder see the same stream.
    gst_rtsp_media_factory_set_shared(factory, TRUE);
    g_signal_connect(factory, "media-configure", G_CALLBACK(on_media_configure), &feeds);
    if (!opts.user.empty())
        require_login(cam.server, factory, opts.user);
    GstRTSPMountPoints* mounts = gst_rtsp_server_get_mount_points(cam.server);
    gst_rtsp_mount_points_add_factory(mounts, opts.path.c_str(), factory);
    g_object_unref(mounts);

    if (!start_serving(cam)) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1:%d\n", opts.port);
        return 1;
    }
    // Pin the port picked for port 0, so serving again after SIGUSR1 keeps the same URL.
    const int port = gst_rtsp_server_get_bound_port(cam.server);
    gst_rtsp_server_set_service(cam.server, std::to_string(port).c_str());
    std::printf("url rtsp://127.0.0.1:%d%s\n", port, opts.path.c_str());
    std::fflush(stdout);

    g_unix_signal_add(SIGINT, on_quit, &cam);
    g_unix_signal_add(SIGTERM, on_quit, &cam);
    g_unix_signal_add(SIGUSR1, on_stop, &cam);
    g_unix_signal_add(SIGUSR2, on_restart, &cam);
    g_main_loop_run(cam.loop);

    stop_serving(cam);
    g_object_unref(cam.server);
    g_main_loop_unref(cam.loop);
    return 0;
}
