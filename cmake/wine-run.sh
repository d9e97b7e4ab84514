#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's own prefix.
# Usage: wine-run.sh PREFIX-DIR PROGRAM [ARGS...]
#        wine-run.sh --stop PREFIX-DIR   (ends the prefix's wineserver and our Xvfb)
# The build writes the prefix's kind ("win64" or "win32") to the file "arch"
# beside the prefix. A 64-bit prefix is run by the 64-bit loader called
# directly: Wine's wrapper commands choose the 32-bit loader whenever wine32 is
# installed, and that loader cannot start where the kernel runs no 32-bit code.
# The prefix is created on first use (serialised with a lock, since CTest may
# start several programs at once) and counts as made only once `wineboot -i`
# has succeeded: a prefix without the marker that it writes last is removed
# and made again. A persistent wineserver keeps later starts fast and never
# ends between two programs; its services are started with their output sent
# to /dev/null so that a harness reading our output through a pipe is not kept
# waiting by them.
# Without a DISPLAY an Xvfb of our own is started and reused: the server picks
# a free display itself, and its process id is kept beside the prefix, so that
# only our own server is ever reused or ended.
set -euo pipefail

stop=no
if [ "${1:-}" = --stop ]; then
    stop=yes
    shift
fi
prefix=$(realpath -m "$1")
shift
state=$(dirname "$prefix")
complete=$prefix/.keldora-complete

arch=win32
[ -f "$state/arch" ] && arch=$(cat "$state/arch")
case "$arch" in
win64) loader_name=wine64 ;;
win32) loader_name=wine ;;
*) echo "wine-run: unknown prefix kind '$arch'" >&2; exit 1 ;;
esac

export WINEPREFIX=$prefix
export WINEARCH=$arch
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree=;mshtml="
# Wine maps Windows file names to Unix ones in the locale's character set: in
# a locale that is not UTF-8 (a bare root shell has none set) a name outside
# ASCII cannot be created at all, which no Windows machine would refuse.
case "${LC_ALL:-${LC_CTYPE:-${LANG:-}}}" in
*UTF-8* | *utf8* | *UTF8* | *utf-8*) ;;
*) export LC_ALL=C.UTF-8 ;;
esac

find_loader() {
    local package=wine64 path
    [ "$loader_name" = wine ] && package=wine32
    for path in "/usr/lib/wine/$loader_name" $(dpkg -L "$package" 2>/dev/null | grep "/wine/$loader_name\$"); do
        if [ -x "$path" ]; then
            echo "$path"
            return
        fi
    done
    echo "wine-run: the $arch loader ($loader_name) is not installed" >&2
    exit 1
}

# The process id of our Xvfb when it still serves the display we recorded.
our_xvfb() {
    local pid display
    pid=$(cat "$state/xvfb.pid" 2>/dev/null) || return 1
    display=$(cat "$state/xvfb.display" 2>/dev/null) || return 1
    [[ $pid =~ ^[0-9]+$ ]] && [ -S "/tmp/.X11-unix/X${display#:}" ] || return 1
    [ "$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | cut -d' ' -f1)" = Xvfb ] || return 1
    echo "$pid"
}

start_xvfb() {
    local number="" pid
    rm -f "$state/xvfb.pid" "$state/xvfb.display"
    # Its own session keeps it out of CTest's clean-up of a test.
    setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$state/xvfb.number" \
        </dev/null >/dev/null 2>&1 9>&- &
    pid=$!
    for _ in $(seq 1 100); do
        number=$(cat "$state/xvfb.number" 2>/dev/null || true)
        [ -n "$number" ] || ! kill -0 "$pid" 2>/dev/null && break
        sleep 0.1
    done
    rm -f "$state/xvfb.number"
    if [ -z "$number" ]; then
        kill "$pid" 2>/dev/null || true
        echo "wine-run: Xvfb did not start" >&2
        exit 1
    fi
    echo "$pid" >"$state/xvfb.pid"
    echo ":$number" >"$state/xvfb.display"
}

# A wineserver works in a folder named after the prefix's device and inode.
server_running() {
    local id pid
    id=$(stat -c 'server-%d-%i' "$prefix" 2>/dev/null | awk -F- '{ printf "server-%x-%x", $2, $3 }')
    [ -n "$id" ] || return 1
    for pid in $(pgrep -x 'wineserver(..)?'); do
        case "$(readlink "/proc/$pid/cwd" 2>/dev/null)" in
        */"$id") return 0 ;;
        esac
    done
    return 1
}

end_server() {
    server_running || return 0
    wineserver -k 2>/dev/null 9>&- || true
    wineserver -w 2>/dev/null 9>&- || true
}

start_server() {
    setsid wineserver -p </dev/null >/dev/null 2>&1 9>&- || true
}

# A prefix whose creation failed or was cut short lacks most of system32, and
# every program in it then fails: it is made anew from nothing. The server of
# the creation is let end (it saves the registry then); the persistent one is
# started afresh after it.
make_prefix() {
    if [ -e "$prefix" ]; then
        echo "wine-run: $prefix was never marked complete (its creation failed or was cut short); making it again" >&2
        end_server
        rm -rf "$prefix"
    fi
    local made=yes
    "$loader" wineboot -i </dev/null >"$state/wineboot.log" 2>&1 9>&- || made=no
    timeout 120 wineserver -w 9>&- || end_server
    if [ "$made" = no ] || [ ! -f "$prefix/system.reg" ] || [ ! -f "$prefix/drive_c/windows/system32/msvcrt.dll" ]; then
        echo "wine-run: creating the prefix $prefix failed (wineboot -i); its output:" >&2
        cat "$state/wineboot.log" >&2
        exit 1
    fi
    touch "$complete"
}

# What lives on (Xvfb, the server, its services) must not inherit the lock
# (fd 9): it would hold it for ever once a run was killed while holding it.
mkdir -p "$state"
exec 9>"$state/wine-run.lock"
flock 9

if [ "$stop" = yes ]; then
    [ -d "$prefix" ] && end_server
    if pid=$(our_xvfb); then
        kill "$pid"
    fi
    rm -f "$state/xvfb.pid" "$state/xvfb.display"
    exit 0
fi

loader=$(find_loader)
export WINELOADER=$loader

if [ -z "${DISPLAY:-}" ]; then
    if ! our_xvfb >/dev/null; then
        # A running server of the prefix still belongs to the display that is gone.
        [ -d "$prefix" ] && end_server
        start_xvfb
    fi
    DISPLAY=$(cat "$state/xvfb.display")
    export DISPLAY
fi
[ -f "$complete" ] || make_prefix
if ! server_running; then
    start_server
    # The first program makes Wine start the prefix's services, which keep its
    # standard handles: /dev/null here, never the caller's pipe. A plain
    # `wineboot` would also run the logon's Run entries and Startup files, and
    # `wineboot --init` would start a second service manager.
    "$loader" cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
fi
flock -u 9
exec 9>&-

# Wine says nothing when it cannot start a program (WINEDEBUG=-all hides its
# own message): a failure is told here with its exit code, so that a test that
# ended without a line of output still names what happened (53: the program
# or one of its libraries could not be loaded).
started=$(date +%s%N)
rc=0
"$loader" "$@" || rc=$?
if [ "$rc" -ne 0 ]; then
    echo "wine-run: $(basename "$1") ended with exit code $rc after $((($(date +%s%N) - started) / 1000000)) ms" >&2
fi
exit "$rc"
