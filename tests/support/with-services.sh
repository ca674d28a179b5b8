#!/usr/bin/env bash
# Runs a command with its own virtual X display, optionally managed by a window manager, and/or
# its own JACK server (dummy driver). Each is started here, waited for until it answers, and
# stopped by process id when the command ends, so tests can run side by side without sharing a
# display, a window manager or a server.
#
#   with-services.sh [--xvfb WIDTHxHEIGHT [--wm openbox]] [--jack] -- command args...
#
# Exports DISPLAY for the X server, QUINDEL_TEST_WM with the window manager's name when one
# runs, and JACK_DEFAULT_SERVER for the JACK server.
set -u
geometry=""
want_jack=0
wm=""
while [ $# -gt 0 ]; do
    case "$1" in
    --xvfb) geometry="$2"; shift 2 ;;
    --wm) wm="$2"; shift 2 ;;
    --jack) want_jack=1; shift ;;
    --) shift; break ;;
    *) break ;;
    esac
done
[ $# -gt 0 ] || { echo "with-services: no command given" >&2; exit 2; }

pids=()
workdir=$(mktemp -d)
cleanup() {
    # Servers that a test started again under the same name (see QUINDEL_TEST_JACK_START).
    [ -s "$workdir/jack.pids" ] && while read -r p; do pids+=("$p"); done <"$workdir/jack.pids"
    for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null; done
    for p in "${pids[@]}"; do
        # jackd needs about a second to exit after SIGTERM; do not leave it behind.
        for _ in $(seq 1 60); do kill -0 "$p" 2>/dev/null || break; sleep 0.05; done
        kill -KILL "$p" 2>/dev/null
        wait "$p" 2>/dev/null
    done
    # Semaphores of clients whose server went away (a test may stop it) stay in /dev/shm.
    [ -n "${JACK_DEFAULT_SERVER:-}" ] && rm -f /dev/shm/jack_sem.*_"${JACK_DEFAULT_SERVER}"_*
    rm -rf "$workdir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ -n "$geometry" ]; then
    command -v Xvfb >/dev/null || { echo "with-services: Xvfb is not installed" >&2; exit 1; }
    # -displayfd lets the server pick a free display number and tell us which.
    Xvfb -displayfd 3 -screen 0 "${geometry}x24" -nolisten tcp -noreset \
        3>"$workdir/display" 2>"$workdir/xvfb.log" &
    pids+=($!)
    for _ in $(seq 1 200); do
        [ -s "$workdir/display" ] && break
        kill -0 "${pids[-1]}" 2>/dev/null || break
        sleep 0.05
    done
    [ -s "$workdir/display" ] || { echo "with-services: Xvfb did not start" >&2; cat "$workdir/xvfb.log" >&2; exit 1; }
    export DISPLAY=":$(tr -dc 0-9 <"$workdir/display")"
fi

if [ -n "$wm" ]; then
    [ -n "$geometry" ] || { echo "with-services: --wm needs --xvfb" >&2; exit 2; }
    command -v "$wm" >/dev/null || { echo "with-services: $wm is not installed" >&2; exit 1; }
    command -v xprop >/dev/null || { echo "with-services: xprop is not installed" >&2; exit 1; }
    "$wm" --sm-disable >"$workdir/wm.log" 2>&1 &
    pids+=($!)
    # An EWMH window manager names its check window on the root once it manages the screen.
    managed=0
    for _ in $(seq 1 200); do
        if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; then
            managed=1; break
        fi
        kill -0 "${pids[-1]}" 2>/dev/null || break
        sleep 0.05
    done
    [ "$managed" = 1 ] || { echo "with-services: $wm did not start" >&2; cat "$workdir/wm.log" >&2; exit 1; }
    export QUINDEL_TEST_WM="$wm"
fi

if [ "$want_jack" = 1 ]; then
    command -v jackd >/dev/null || { echo "with-services: jackd is not installed" >&2; exit 1; }
    export JACK_DEFAULT_SERVER="quindel-test-$$-$RANDOM"
    export JACK_NO_AUDIO_RESERVATION=1
    # JACK keeps at most 8 servers in its registry in /dev/shm, and a server that was killed
    # leaves its entry behind under its unique name, so the table fills up for good ("Too many
    # servers already active"). With no JACK server running at all, every entry is stale: drop
    # the registry. The lock keeps two starts from racing each other over it.
    exec 8>/tmp/quindel-jack-start.lock
    flock 8
    if ! pgrep -x jackd >/dev/null 2>&1 && ! pgrep -x jackdbus >/dev/null 2>&1; then
        rm -f /dev/shm/jack-shm-registry
    fi
    jack_start="jackd -n $JACK_DEFAULT_SERVER -d dummy -r 48000 -p 256"
    $jack_start >"$workdir/jack.log" 2>&1 8>&- &
    pids+=($!)
    ready=0
    for _ in $(seq 1 200); do
        if jack_lsp >/dev/null 2>&1; then ready=1; break; fi
        kill -0 "${pids[-1]}" 2>/dev/null || break
        sleep 0.05
    done
    flock -u 8
    exec 8>&-
    [ "$ready" = 1 ] || { echo "with-services: the JACK server did not start" >&2; cat "$workdir/jack.log" >&2; exit 1; }
    # Tests that stop the server on purpose find its process id here; one that starts it again
    # runs QUINDEL_TEST_JACK_START and adds the new server's process id to the file
    # QUINDEL_TEST_JACK_PIDS, so it is stopped here too.
    export QUINDEL_TEST_JACK_PID="${pids[-1]}"
    export QUINDEL_TEST_JACK_START="$jack_start"
    export QUINDEL_TEST_JACK_PIDS="$workdir/jack.pids"
fi

"$@"
exit $?
