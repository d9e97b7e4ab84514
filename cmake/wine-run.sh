#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's own prefix.
# Usage: wine-run.sh PREFIX-DIR PROGRAM [ARGS...]
# The build writes the prefix's kind ("win64" or "win32") to the file "arch"
# beside the prefix. A 64-bit prefix is run by the 64-bit loader called
# directly: Wine's wrapper commands choose the 32-bit loader whenever wine32 is
# installed, and that loader cannot start where the kernel runs no 32-bit code.
# The prefix is created on first use (serialised with a lock, since CTest may
# start several programs at once). A persistent wineserver keeps later starts
# fast; its services are started with their output sent to /dev/null so that a
# harness reading our output through a pipe is not kept waiting by them.
# Without a DISPLAY an Xvfb of our own is started and reused.
set -euo pipefail

prefix=$(realpath -m "$1")
shift
state=$(dirname "$prefix")

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

start_xvfb() {
    local n
    for n in $(seq 91 140); do
        [ -e "/tmp/.X$n-lock" ] && continue
        # The lock (fd 9) must not live on in the server, or every later run waits for it forever.
        setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 9>&- &
        for _ in $(seq 1 50); do
            [ -e "/tmp/.X11-unix/X$n" ] && break
            sleep 0.1
        done
        echo ":$n" >"$state/xvfb.display"
        return
    done
    echo "wine-run: no free X display" >&2
    exit 1
}

# A wineserver works in a folder named after the prefix's device and inode.
server_running() {
    local id pid
    id=$(stat -c 'server-%d-%i' "$prefix" 2>/dev/null | awk -F- '{ printf "server-%x-%x", $2, $3 }')
    [ -n "$id" ] || return 1
    for pid in $(pgrep wineserver); do
        case "$(readlink "/proc/$pid/cwd" 2>/dev/null)" in
        */"$id") return 0 ;;
        esac
    done
    return 1
}

loader=$(find_loader)
export WINELOADER=$loader

mkdir -p "$state"
exec 9>"$state/wine-run.lock"
flock 9
if [ -z "${DISPLAY:-}" ]; then
    if [ ! -f "$state/xvfb.display" ] || [ ! -e "/tmp/.X11-unix/X$(cut -c2- "$state/xvfb.display")" ]; then
        start_xvfb
    fi
    DISPLAY=$(cat "$state/xvfb.display")
    export DISPLAY
fi
if [ ! -f "$prefix/system.reg" ]; then
    "$loader" wineboot -i </dev/null >/dev/null 2>&1
fi
if ! server_running; then
    setsid wineserver -p </dev/null >/dev/null 2>&1 || true
    "$loader" wineboot </dev/null >/dev/null 2>&1 || true
fi
flock -u 9
exec 9>&-

exec "$loader" "$@"
