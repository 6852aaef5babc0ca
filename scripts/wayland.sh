#!/usr/bin/env bash
# Runs a command inside a Wayland compositor of its own: Debian's sway without a screen
# (headless output of 1600x1000, software rendering), with the toolkit told to use Wayland.
# sway will not run as root, so as root both sway and the command run as the unprivileged user
# "kestrel-wayland" (made when missing) with a home and a runtime folder of their own.
# When no compositor can start here the command is not run and the script exits with 77, which
# CTest counts as skipped (SKIP_RETURN_CODE), after saying why.
set -uo pipefail
skip() {
  echo "wayland: skipped: $*" >&2
  exit 77
}
command -v sway >/dev/null || skip "sway is not installed"
command -v grim >/dev/null || skip "grim is not installed"

user=$(id -un)
as_user=()
if [ "$(id -u)" = 0 ]; then
  user=kestrel-wayland
  id -u "$user" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$user" ||
    skip "cannot make the user $user"
  as_user=(runuser -u "$user" --)
fi
place=$(mktemp -d /tmp/kestrel-wayland-XXXXXX)
mkdir -m 700 "$place/runtime" "$place/home" "$place/tmp"
cat >"$place/sway.conf" <<'CONF'
output HEADLESS-1 resolution 1600x1000
output HEADLESS-1 bg #303030 solid_color
default_border none
default_floating_border none
CONF
[ "$(id -u)" = 0 ] && chown -R "$user" "$place"
chmod 755 "$place"

environment=(env -u DISPLAY -u WAYLAND_DISPLAY HOME="$place/home" TMPDIR="$place/tmp"
  XDG_RUNTIME_DIR="$place/runtime" WLR_BACKENDS=headless WLR_RENDERER=pixman
  WLR_LIBINPUT_NO_DEVICES=1)
"${as_user[@]}" "${environment[@]}" sway --config "$place/sway.conf" >"$place/sway.log" 2>&1 &
compositor=$!
cleanup() {
  kill "$compositor" 2>/dev/null
  wait "$compositor" 2>/dev/null
  rm -rf "$place"
}
trap cleanup EXIT
socket=""
for _ in $(seq 200); do
  socket=$(cd "$place/runtime" && ls wayland-[0-9] 2>/dev/null | head -1)
  [ -n "$socket" ] && break
  kill -0 "$compositor" 2>/dev/null || break
  sleep 0.05
done
if [ -z "$socket" ]; then
  tail -5 "$place/sway.log" >&2
  skip "sway did not start"
fi
"${as_user[@]}" "${environment[@]}" WAYLAND_DISPLAY="$socket" GDK_BACKEND=wayland "$@"
