#!/usr/bin/env bash
# A network namespace in which the forum's host name points at a local server of saved pages:
#   scripts/netns-service.sh up      -> starts the server inside it
#   scripts/netns-service.sh exec CMD...  -> runs CMD inside it
#   scripts/netns-service.sh down
# Needs root (ip netns).
set -euo pipefail
ns=${PENNARO_NETNS:-pennaro-demo}
here=$(cd "$(dirname "$0")" && pwd)
pages="$here/../tests/fixtures/pages"
case "${1:-}" in
up)
    if [ -f "/tmp/$ns-server.pid" ] && kill -0 "$(cat "/tmp/$ns-server.pid")" 2>/dev/null; then
        echo "$ns is already up" >&2
        exit 0
    fi
    ip netns add "$ns" 2>/dev/null || true
    ip netns exec "$ns" ip link set lo up
    mkdir -p "/etc/netns/$ns"
    printf '127.0.0.1 localhost tieba.baidu.com\n' > "/etc/netns/$ns/hosts"
    ip netns exec "$ns" python3 "$here/fixture_server.py" --port 80 \
        "$pages"/frs-utf8-2020-lol-pn0-plain.html "$pages"/frs-utf8-2020-lol-pn50-plain.html \
        "$pages"/frs-utf8-2016-python-plain.html "$pages"/frs-utf8-2018-henanligong-bigpipe.html \
        "$pages"/frs-utf8-2024-daomubiji-bigpipe.html >/dev/null 2> "/tmp/$ns-server.log" &
    echo $! > "/tmp/$ns-server.pid"
    sleep 0.5
    ;;
exec)
    shift
    exec ip netns exec "$ns" "$@"
    ;;
down)
    [ -f "/tmp/$ns-server.pid" ] && kill "$(cat "/tmp/$ns-server.pid")" 2>/dev/null || true
    rm -f "/tmp/$ns-server.pid"
    ip netns del "$ns" 2>/dev/null || true
    rm -rf "/etc/netns/$ns"
    ;;
*)
    echo "usage: $0 up|exec CMD...|down" >&2
    exit 2
    ;;
esac
