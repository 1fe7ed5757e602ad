#!/bin/sh
# Runs COMMAND [ARGUMENT...] on a virtual X server under the openbox window manager and exits with the
# command's status. A window manager maps a new window in its own time, after a round trip through it:
# what a program paints before its window is mapped never reaches the screen, which neither a bare X
# server nor Qt's offscreen platform shows. openbox runs the command once it manages the screen, on Qt's
# X11 platform, or on the one UNDER_WINDOW_MANAGER_PLATFORM names (the Windows one, for a Windows program
# under Wine, whose windows Wine puts on the X server).
set -eu
if [ "${1-}" = --inside ]; then
  # Inside openbox, which runs this from a folder of its own: the folder to run in, then the arguments,
  # one a line, come from the file the outer call wrote.
  list=$2
  set --
  { IFS= read -r folder; while IFS= read -r argument; do set -- "$@" "$argument"; done; } < "$list"
  cd "$folder"
  status=0
  QT_QPA_PLATFORM=${UNDER_WINDOW_MANAGER_PLATFORM:-xcb} "$@" || status=$?
  echo "$status" > "$list.status"
  openbox --exit
  exit 0
fi
script=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
list=$(mktemp)
trap 'rm -f "$list" "$list.status"' EXIT
{ pwd; printf '%s\n' "$@"; } > "$list"
xvfb-run -a -s "-screen 0 1024x768x24" openbox --startup "'$script' --inside '$list'" 2>/dev/null || true
[ -f "$list.status" ] || { echo "under-window-manager: openbox did not run the command" >&2; exit 1; }
exit "$(cat "$list.status")"
