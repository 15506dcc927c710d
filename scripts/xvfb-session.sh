#!/usr/bin/env bash
# Starts a virtual display with a window manager, for looking at the real window:
#   scripts/xvfb-session.sh start   -> prints DISPLAY to use
#   scripts/xvfb-session.sh stop
set -euo pipefail
display=${PENNARO_XVFB_DISPLAY:-:99}
state=/tmp/pennaro-xvfb${display#:}
case "${1:-start}" in
start)
    Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    echo $! > "$state.xvfb"
    for _ in $(seq 50); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.1; done
    DISPLAY=$display openbox >/dev/null 2>&1 &
    echo $! > "$state.wm"
    sleep 0.5
    echo "$display"
    ;;
stop)
    for f in "$state.wm" "$state.xvfb"; do
        [ -f "$f" ] && kill "$(cat "$f")" 2>/dev/null || true
        rm -f "$f"
    done
    ;;
esac
