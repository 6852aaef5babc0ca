#!/usr/bin/env bash
# Sets everything up on Debian 12 and starts the recorder. With no car equipment attached it
# starts the project's own stand-ins first: two test cameras, the coordinate-server simulator
# and the path-sensor simulator, and runs the recorder in a demo home folder (demo-home/) whose
# settings point at them, so the user's own settings and recordings are never touched.
# Closing the recorder stops the stand-ins.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/setup.sh
cmake -G Ninja -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release --target kestrel kestrel-testcam kestrel-coordsim kestrel-dppsim

tools=build/release/tools
home="$root/demo-home"
logs="$home/simulators"
mkdir -p "$logs" "$home/Meridian5/config" "$home/recordings"

pids=()
stop_all() { [ ${#pids[@]} -eq 0 ] || kill "${pids[@]}" 2>/dev/null || true; }
trap stop_all EXIT

# Starts a stand-in and sets `started` to the value after the keyword of its first line.
start() {
  local name=$1; shift
  local out="$logs/$name.out"
  "$@" >"$out" 2>"$logs/$name.log" &
  pids+=($!)
  for _ in $(seq 100); do
    if [ -s "$out" ]; then
      started=$(head -n 1 "$out" | cut -d' ' -f2-)
      return
    fi
    sleep 0.1
  done
  echo "$name did not start; see $logs/$name.log" >&2
  exit 1
}

start front-camera "$tools/testcam/kestrel-testcam" --port 0 --size 1280x720 --path /front
front_url=$started
start back-camera "$tools/testcam/kestrel-testcam" --port 0 --size 1280x720 --path /back --pattern smpte
back_url=$started
start coordinates "$tools/coordsim/kestrel-coordsim" --port 0 --speed 80
coord_port=$started
start path-sensor "$tools/dppsim/kestrel-dppsim" --rate 20
dpp_device=$started

cat >"$home/Meridian5/config/.kestrel" <<SETTINGS
front_camera_rtsp_address=$front_url
back_camera_rtsp_address=$back_url
write_path=$home/recordings
write_format=AVI
codec=MJPEG
write_interval=10
video_write_policy=1 километр
coordinate_server_address=127.0.0.1
coordinate_server_port=$coord_port
dpp_port=$dpp_device
SETTINGS

echo "Cameras: $front_url $back_url; coordinate server on port $coord_port; path sensor on $dpp_device"
echo "Recordings go to $home/recordings, journals to $home/Meridian5/log"
if [ -z "${DISPLAY:-}" ]; then
  echo "No DISPLAY: running the recorder on a virtual screen (scripts/headless.sh)." >&2
  HOME="$home" scripts/headless.sh build/release/app/kestrel
else
  HOME="$home" build/release/app/kestrel
fi
