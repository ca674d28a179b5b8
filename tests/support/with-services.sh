#!/usr/bin/env bash
# Runs a command with its own virtual X display, optionally managed by a window manager, and/or
# its own JACK server (dummy driver). Each is started here, waited for until it answers, and
# stopped by process id when the command ends, so tests can run side by side without sharing a
# display, a window manager or a server.
#
#   with-services.sh [--xvfb WIDTHxHEIGHT [--wm openbox]] [--jack]
#                    [--mutter WIDTHxHEIGHT[,WIDTHxHEIGHT...]]
#                    [--sway WIDTHxHEIGHT[,WIDTHxHEIGHT...]] [--kwin WIDTHxHEIGHT[,...]]
#                    [--weston WIDTHxHEIGHT] [--bus] [--scale S[,S...]] -- command args...
#
# --scale gives the outputs of sway and Mutter their scales, one each in order (the last one
# for the rest), and KWin its one scale for every output. A sway output may also be placed:
# WIDTHxHEIGHT@X:Y (in the layout's logical pixels, so also left of or above the first one).
# Mutter takes a fractional scale only in its logical layout mode, an experimental setting
# that is switched on for it; whole scales leave it in its default, physical, layout mode.
#
# Exports DISPLAY for the X server, QUINDEL_TEST_WM with the window manager's name when one
# runs, and JACK_DEFAULT_SERVER for the JACK server. A Wayland compositor gets its own
# XDG_RUNTIME_DIR, session bus (DBUS_SESSION_BUS_ADDRESS) and WAYLAND_DISPLAY.
# Mutter, sway, KWin and weston (headless, several Mutter monitors and sway outputs side by side
# from the left) set QT_QPA_PLATFORM=wayland, QUINDEL_TEST_COMPOSITOR and its process id
# QUINDEL_TEST_COMPOSITOR_PID (tests that take it away on purpose); Mutter also
# QUINDEL_TEST_PIPEWIRE_PID, sway SWAYSOCK, and KWin the menu and data folders of a Plasma
# session (XDG_MENU_PREFIX, XDG_CONFIG_DIRS, XDG_DATA_HOME) and QUINDEL_TEST_APPLICATIONS, the
# applications folder of its desktop entries. sway and KWin place a window whose app_id is
# quindel at the top left of the layout, so tests know where its controls are.
set -u

# Wayland compositors run as an unprivileged user when this script runs as root (as CI does):
# some refuse root, and a session bus answers only its own user. The user is made here when
# missing, and the command then runs as that user too.
test_user=quindeltest
is_root() { [ "$(id -u)" = 0 ]; }
ensure_test_user() {
    is_root || return 0
    id -u "$test_user" >/dev/null 2>&1 && return 0
    # Another test may be making it at the same moment.
    useradd --create-home --user-group --shell /usr/sbin/nologin "$test_user" ||
        id -u "$test_user" >/dev/null 2>&1 ||
        { echo "with-services: cannot create the user $test_user" >&2; exit 1; }
}
# The prefix that runs a command as the test user (none when not root). setpriv replaces
# itself with the command, so a background start leaves the command's process id in $!.
as_test_user=()
is_root && as_test_user=(setpriv --reuid="$test_user" --regid="$test_user" --init-groups)
# A private runtime directory (mode 0700) and home for the test user's session, in $workdir.
make_user_session_dirs() {
    chmod 711 "$workdir"
    mkdir -p -m 0700 "$workdir/runtime" "$workdir/home"
    is_root && chown "$test_user:" "$workdir/runtime" "$workdir/home"
    export XDG_RUNTIME_DIR="$workdir/runtime" HOME="$workdir/home"
}
geometry=""
want_jack=0
wm=""
mutter_monitors=""
sway_outputs=""
kwin_size=""
weston_size=""
want_bus=0
scales=""
while [ $# -gt 0 ]; do
    case "$1" in
    --xvfb) geometry="$2"; shift 2 ;;
    --wm) wm="$2"; shift 2 ;;
    --jack) want_jack=1; shift ;;
    --mutter) mutter_monitors="$2"; shift 2 ;;
    --sway) sway_outputs="$2"; shift 2 ;;
    --kwin) kwin_size="$2"; shift 2 ;;
    --weston) weston_size="$2"; shift 2 ;;
    --bus) want_bus=1; shift ;;
    --scale) scales="$2"; shift 2 ;;
    --) shift; break ;;
    *) break ;;
    esac
done
[ $# -gt 0 ] || { echo "with-services: no command given" >&2; exit 2; }

# The scale of output $1 (counted from 1) as --scale gives it: 1 without one.
scale_of() {
    local list=(${scales//,/ })
    [ ${#list[@]} -eq 0 ] && { echo 1; return; }
    local i=$(($1 - 1))
    [ $i -ge ${#list[@]} ] && i=$((${#list[@]} - 1))
    echo "${list[$i]}"
}

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

# JACK 2 keeps its sockets to the user who started the server: under a compositor, whose
# clients run as the test user, the server does too.
# It always runs synchronously: a client that the loaded machine schedules late then delays
# the cycle instead of losing or repeating that cycle's MIDI events, which the tests, each
# counting every note it sends, would see.
as_jack_user=()
jack_sync=(--sync)
if [ "$want_jack" = 1 ] && [ -n "$mutter_monitors$sway_outputs$kwin_size$weston_size" ]; then
    ensure_test_user
    as_jack_user=("${as_test_user[@]}")
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
    jack_start="${as_jack_user[*]} jackd ${jack_sync[*]} -n $JACK_DEFAULT_SERVER -d dummy -r 48000 -p 256"
    $jack_start >"$workdir/jack.log" 2>&1 8>&- &
    pids+=($!)
    ready=0
    for _ in $(seq 1 200); do
        if "${as_jack_user[@]}" jack_lsp >/dev/null 2>&1; then ready=1; break; fi
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

if [ -n "$mutter_monitors" ]; then
    for c in mutter dbus-daemon pipewire; do
        command -v "$c" >/dev/null || { echo "with-services: $c is not installed" >&2; exit 1; }
    done
    ensure_test_user
    make_user_session_dirs
    # Mutter's remote desktop and screen cast interfaces live on the session bus, and a screen
    # cast stream, which absolute pointer motion needs, lives in PipeWire. No session manager
    # is needed: nothing consumes the streams.
    "${as_test_user[@]}" dbus-daemon --session --nofork --address="unix:path=$XDG_RUNTIME_DIR/bus" \
        >"$workdir/dbus.log" 2>&1 &
    pids+=($!)
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus"
    # Mutter needs the bus when it starts.
    for _ in $(seq 1 200); do
        [ -S "$XDG_RUNTIME_DIR/bus" ] && break
        kill -0 "${pids[-1]}" 2>/dev/null || break
        sleep 0.05
    done
    "${as_test_user[@]}" pipewire >"$workdir/pipewire.log" 2>&1 &
    pids+=($!)
    export WAYLAND_DISPLAY="quindel-mutter-$$"
    monitors=()
    for m in ${mutter_monitors//,/ }; do monitors+=(--virtual-monitor "$m"); done
    # Mutter has no window rules: new windows go to the middle of the first monitor, where
    # tests find them (QUINDEL_TEST_CENTERED_IN), and Qt draws no title bar of its own. Without
    # animations a window is where it belongs as soon as it is shown (a press during the zoom
    # of a new window lands off its point in it).
    mkdir -p "$HOME/.config/glib-2.0/settings"
    printf '[org/gnome/mutter]\ncenter-new-windows=true\n' >"$HOME/.config/glib-2.0/settings/keyfile"
    if grep -q '\.' <<<"$scales"; then
        echo "experimental-features=['scale-monitor-framebuffer']" \
            >>"$HOME/.config/glib-2.0/settings/keyfile"
    fi
    is_root && chown -R "$test_user:" "$HOME/.config"
    GSETTINGS_BACKEND=keyfile MUTTER_DEBUG_DISABLE_ANIMATIONS=1 "${as_test_user[@]}" mutter --headless --wayland --no-x11 \
        --wayland-display="$WAYLAND_DISPLAY" "${monitors[@]}" >"$workdir/mutter.log" 2>&1 &
    pids+=($!)
    ready=0
    for _ in $(seq 1 300); do
        if [ -S "$XDG_RUNTIME_DIR/pipewire-0" ] && [ -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ] &&
            "${as_test_user[@]}" dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
                org.freedesktop.DBus.NameHasOwner string:org.gnome.Mutter.RemoteDesktop \
                2>/dev/null | grep -q "boolean true"; then
            ready=1; break
        fi
        kill -0 "${pids[-1]}" 2>/dev/null || break
        sleep 0.05
    done
    [ "$ready" = 1 ] || {
        echo "with-services: mutter did not start" >&2
        cat "$workdir/dbus.log" "$workdir/pipewire.log" "$workdir/mutter.log" >&2
        exit 1
    }
    # Scales are set as the desktop's display settings do, through DisplayConfig, the monitors
    # side by side from the left (in the pixels of the layout mode).
    if [ -n "$scales" ]; then
        state=$("${as_test_user[@]}" gdbus call --session --dest org.gnome.Mutter.DisplayConfig \
            --object-path /org/gnome/Mutter/DisplayConfig \
            --method org.gnome.Mutter.DisplayConfig.GetCurrentState)
        serial=$(sed -E 's/^\(uint32 ([0-9]+),.*/\1/' <<<"$state")
        logical_mode=0
        grep -q "'layout-mode': <uint32 1>" <<<"$state" && logical_mode=1
        monitors_config=""
        x=0
        n=0
        for m in ${mutter_monitors//,/ }; do
            s=$(scale_of $((n + 1)))
            monitors_config+="${monitors_config:+, }($x, 0, $s, 0, $([ $n = 0 ] && echo true || echo false), [('Meta-$n', '$m@60.000', @a{sv} {})])"
            w=${m%x*}
            [ "$logical_mode" = 1 ] && w=$(awk -v w="$w" -v s="$s" 'BEGIN { printf "%d", w / s + 0.5 }')
            x=$((x + w))
            n=$((n + 1))
        done
        "${as_test_user[@]}" gdbus call --session --dest org.gnome.Mutter.DisplayConfig \
            --object-path /org/gnome/Mutter/DisplayConfig \
            --method org.gnome.Mutter.DisplayConfig.ApplyMonitorsConfig \
            "$serial" 1 "[$monitors_config]" "@a{sv} {}" >"$workdir/scale.log" 2>&1 || {
            echo "with-services: Mutter refused the scales $scales" >&2
            cat "$workdir/scale.log" >&2
            exit 1
        }
    fi
    # Tests that take PipeWire away on purpose find its process id here.
    export QUINDEL_TEST_PIPEWIRE_PID="${pids[-2]}"
    [ -n "$geometry" ] || unset DISPLAY # nothing may fall back to some other X display
    export QT_QPA_PLATFORM=wayland QUINDEL_TEST_COMPOSITOR=mutter QUINDEL_TEST_COMPOSITOR_PID="${pids[-1]}"
    export QUINDEL_TEST_CENTERED_IN="${mutter_monitors%%,*}" QT_WAYLAND_DISABLE_WINDOWDECORATION=1
    run_as_test_user=1
fi

# sway, KWin and weston: headless, as the test user, on the private runtime directory.
# Waits until the compositor's socket $XDG_RUNTIME_DIR/$WAYLAND_DISPLAY (or, with an empty
# name, the first socket it makes) appears; fails with the log when it dies first.
await_wayland_socket() {
    local name="$1" log="$2"
    for _ in $(seq 1 300); do
        if [ -z "$name" ]; then
            for f in "$XDG_RUNTIME_DIR"/wayland-*; do
                [ -S "$f" ] && { name=$(basename "$f"); break; }
            done
        fi
        if [ -n "$name" ] && [ -S "$XDG_RUNTIME_DIR/$name" ]; then
            export WAYLAND_DISPLAY="$name"
            return 0
        fi
        kill -0 "${pids[-1]}" 2>/dev/null || break
        sleep 0.05
    done
    echo "with-services: the compositor did not start" >&2
    cat "$log" >&2
    exit 1
}
if [ -n "$sway_outputs$kwin_size$weston_size" ]; then
    ensure_test_user
    make_user_session_dirs
    [ -n "$geometry" ] || unset DISPLAY # nothing may fall back to some other X display
    export QT_QPA_PLATFORM=wayland
    run_as_test_user=1
    # --bus: a session bus of their own too (Mutter always has one), on which tests can reach
    # the compositor, e.g. to make KWin read its keyboard layout settings again.
    if [ "$want_bus" = 1 ]; then
        "${as_test_user[@]}" dbus-daemon --session --nofork \
            --address="unix:path=$XDG_RUNTIME_DIR/bus" >"$workdir/dbus.log" 2>&1 &
        pids+=($!)
        export DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus"
        for _ in $(seq 1 200); do [ -S "$XDG_RUNTIME_DIR/bus" ] && break; sleep 0.05; done
        [ -S "$XDG_RUNTIME_DIR/bus" ] || { echo "with-services: dbus-daemon did not start" >&2; cat "$workdir/dbus.log" >&2; exit 1; }
    fi
fi
if [ -n "$sway_outputs" ]; then
    command -v sway >/dev/null || { echo "with-services: sway is not installed" >&2; exit 1; }
    # Outputs side by side from the left, top edges aligned; no bar, no borders.
    config="$workdir/sway.conf"
    x=0
    n=0
    for output in ${sway_outputs//,/ }; do
        n=$((n + 1))
        size=${output%@*}
        s=$(scale_of $n)
        if [ "$output" != "$size" ]; then
            position="${output#*@}"
            echo "output HEADLESS-$n mode $size position ${position%:*} ${position#*:} scale $s" >>"$config"
        else
            echo "output HEADLESS-$n mode $size position $x 0 scale $s" >>"$config"
            x=$((x + $(awk -v w="${size%x*}" -v s="$s" 'BEGIN { printf "%d", w / s + 0.5 }')))
        fi
    done
    cat >>"$config" <<'CONFIG'
default_border none
default_floating_border none
for_window [app_id="quindel"] move absolute position 0 0
CONFIG
    chmod 644 "$config"
    WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 WLR_HEADLESS_OUTPUTS=$n \
        "${as_test_user[@]}" sway -c "$config" >"$workdir/sway.log" 2>&1 &
    pids+=($!)
    await_wayland_socket "" "$workdir/sway.log"
    for _ in $(seq 1 100); do
        for f in "$XDG_RUNTIME_DIR"/sway-ipc.*.sock; do [ -S "$f" ] && export SWAYSOCK="$f"; done
        [ -n "${SWAYSOCK:-}" ] && break
        sleep 0.05
    done
    export QUINDEL_TEST_COMPOSITOR=sway QUINDEL_TEST_COMPOSITOR_PID="${pids[-1]}"
fi
if [ -n "$kwin_size" ]; then
    command -v kwin_wayland >/dev/null || { echo "with-services: kwin_wayland is not installed" >&2; exit 1; }
    # The packaged binary carries the file capability cap_sys_resource, which a container may
    # not grant (exec fails with EPERM). A copy without it runs; KWin wants its name unchanged.
    mkdir -m 0755 "$workdir/kwin"
    cp "$(command -v kwin_wayland)" "$workdir/kwin/kwin_wayland"
    # KWin offers fake input only to programs whose desktop entry, found in its own data
    # folders, names them and the interface: tests put entries here. KWin 6 finds entries
    # through the applications menu that XDG_MENU_PREFIX names, as a Plasma session sets it
    # (plasma-workspace ships /etc/xdg/menus/plasma-applications.menu); the session's menu
    # here lists every entry of the data folders, as Plasma's does.
    export QUINDEL_TEST_APPLICATIONS="$workdir/data/applications"
    mkdir -p "$QUINDEL_TEST_APPLICATIONS" "$workdir/xdg/menus"
    is_root && chown -R "$test_user:" "$workdir/data"
    cat >"$workdir/xdg/menus/plasma-applications.menu" <<'MENU'
<Menu>
  <Name>Applications</Name>
  <DefaultAppDirs/>
  <DefaultDirectoryDirs/>
  <Include><All/></Include>
</Menu>
MENU
    chmod -R a+rX "$workdir/xdg"
    export XDG_MENU_PREFIX=plasma- XDG_CONFIG_DIRS="$workdir/xdg:${XDG_CONFIG_DIRS:-/etc/xdg}"
    export XDG_DATA_HOME="$workdir/data"
    mkdir -p "$HOME/.config"
    cat >"$HOME/.config/kwinrulesrc" <<'RULES'
[General]
count=1
rules=1

[1]
Description=Quindel at the top left
position=0,0
positionrule=2
wmclass=quindel
wmclassmatch=1
RULES
    is_root && chown -R "$test_user:" "$HOME/.config"
    # Several outputs side by side from the left, all of the first one's size.
    kwin_first="${kwin_size%%,*}"
    kwin_count=$(($(tr -cd , <<<"$kwin_size" | wc -c) + 1))
    KWIN_COMPOSE=Q "${as_test_user[@]}" "$workdir/kwin/kwin_wayland" \
        --virtual --width "${kwin_first%x*}" --height "${kwin_first#*x}" --output-count "$kwin_count" \
        --scale "$(scale_of 1)" --socket "quindel-kwin-$$" --no-lockscreen >"$workdir/kwin.log" 2>&1 &
    pids+=($!)
    await_wayland_socket "quindel-kwin-$$" "$workdir/kwin.log"
    export QUINDEL_TEST_COMPOSITOR=kwin QUINDEL_TEST_COMPOSITOR_PID="${pids[-1]}"
fi
if [ -n "$weston_size" ]; then
    command -v weston >/dev/null || { echo "with-services: weston is not installed" >&2; exit 1; }
    "${as_test_user[@]}" weston --backend=headless-backend.so --socket="quindel-weston-$$" \
        --width="${weston_size%x*}" --height="${weston_size#*x}" --idle-time=0 \
        >"$workdir/weston.log" 2>&1 &
    pids+=($!)
    await_wayland_socket "quindel-weston-$$" "$workdir/weston.log"
    export QUINDEL_TEST_COMPOSITOR=weston QUINDEL_TEST_COMPOSITOR_PID="${pids[-1]}"
fi

status=0
if [ "${run_as_test_user:-0}" = 1 ]; then
    "${as_test_user[@]}" "$@" || status=$?
else
    "$@" || status=$?
fi
# A failure on a loaded machine is often the servers' doing (a JACK client thrown out, a
# compositor's warning): what they said goes with the test's own output.
if [ "$status" != 0 ]; then
    for log in "$workdir"/*.log; do
        [ -s "$log" ] || continue
        echo "with-services: the end of ${log##*/}:" >&2
        tail -n 15 "$log" >&2
    done
fi
exit "$status"
