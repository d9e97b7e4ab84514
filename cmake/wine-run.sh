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
#
# Lanes: with KELDORA_WINE_LANES=N (the test command sets it beside CTest's
# -jN) each run first takes one of N lanes, a lock file under
# "<build>/wine-lanes" held by flock(1) for as long as the run lasts and never
# by what the run leaves behind (the lock's descriptor is closed for the run),
# so a run that is killed frees its lane. Lane 0 is the build's prefix; lane N
# of the build's prefix ("<build>/wine/prefix") is "<build>/wine-laneN", a
# world of its own: prefix, wineserver, Xvfb. Other prefixes (DPI, fonts) are
# named by their tests and kept. Once a test's program ends, the run that took
# its lane ends what the test left running in the prefix (never Wine's own
# programs), which would hold the caller's output open and show its windows to
# the next test (without lanes tests share the prefix, and nothing is ended).
# A test given a lane runs the build's programs
# from a copy of "<build>/bin" made of hard links beside its prefix, since the
# tests write beside their own programs.
# New prefixes are copies of a template made once per build by `wineboot -i`;
# the builtin libraries of a copy are hard links to the template's, which Wine
# and our programs never write in place.
#
# With KELDORA_WATCHDOG_SECONDS (counted from this script's start) a test that
# runs too long is reported before its Wine processes are ended: its name,
# the wait it was in (written by the tests' wait helpers to KELDORA_WAIT_NOTE),
# its last output lines and the stacks of its threads.
set -euo pipefail
started=$(date +%s%N)

arguments=("$@")
stop=no
if [ "${1:-}" = --stop ]; then
    stop=yes
    shift
fi
prefix=$(realpath -m "$1")
shift
state=$(dirname "$prefix")
build=$(dirname "$state")

# Runs this script again holding the first free lane. flock's own exit code
# for a lane already taken cannot be told from the program's, so the run says
# it has begun in a file of its own.
take_lane() {
    local claims=$build/wine-lanes i rc begun
    mkdir -p "$claims"
    begun=$claims/begun.$$
    while :; do
        for ((i = 0; i < KELDORA_WINE_LANES; i++)); do
            rc=0
            KELDORA_WINE_LANE=$i KELDORA_LANE_BEGUN=$begun \
                flock -n -o -E 75 "$claims/lane$i" "$0" "${arguments[@]}" || rc=$?
            if [ "$rc" -ne 75 ] || [ -e "$begun" ]; then
                rm -f "$begun"
                exit "$rc"
            fi
        done
        sleep 0.2
    done
}
if [ "$stop" = no ] && [[ ${KELDORA_WINE_LANES:-} =~ ^[1-9][0-9]*$ ]] && [ -z "${KELDORA_WINE_LANE:-}" ]; then
    take_lane
fi
# Only the run that took the lane ends what its test left behind; a run the
# test itself starts (a host command) shares the lane.
owns_lane=no
if [ -n "${KELDORA_LANE_BEGUN:-}" ]; then
    : >"$KELDORA_LANE_BEGUN"
    owns_lane=yes
fi
unset KELDORA_LANE_BEGUN

lane=""
if [[ ${KELDORA_WINE_LANE:-} =~ ^[0-9]+$ ]]; then
    lane=$KELDORA_WINE_LANE
    if [ "$lane" != 0 ] && [ "$(basename "$state")" = wine ]; then
        state=$build/wine-lane$lane
        prefix=$state/prefix
    fi
fi
complete=$prefix/.keldora-complete

# The build writes the kind beside its own prefix; other prefixes of the build share it.
arch=win32
for file in "$state/arch" "$build/wine/arch"; do
    if [ -f "$file" ]; then
        arch=$(cat "$file")
        break
    fi
done
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

# Runs `wineboot -i` for a new prefix and lets its server end (it saves the
# registry then). A prefix whose creation failed or was cut short lacks most
# of system32, and every program in it then fails: it is made anew from nothing.
boot_prefix() {
    local made=yes
    WINEPREFIX=$1 "$loader" wineboot -i </dev/null >"$2" 2>&1 9>&- 8>&- || made=no
    WINEPREFIX=$1 timeout 120 wineserver -w 9>&- 8>&- || WINEPREFIX=$1 wineserver -k 9>&- 8>&- || true
    if [ "$made" = no ] || [ ! -f "$1/system.reg" ] || [ ! -f "$1/drive_c/windows/system32/msvcrt.dll" ]; then
        echo "wine-run: creating the prefix $1 failed (wineboot -i); its output:" >&2
        cat "$2" >&2
        return 1
    fi
    touch "$1/.keldora-complete"
}

# The build's template prefix, made once (under its own lock) and never run.
template_prefix() {
    local template=$build/wine-template
    mkdir -p "$template"
    echo "$arch" >"$template/arch"
    (
        flock 8
        if [ ! -f "$template/prefix/.keldora-complete" ]; then
            rm -rf "$template/prefix"
            boot_prefix "$template/prefix" "$template/wineboot.log" || exit 1
        fi
    ) 8>"$template/wine-run.lock"
    echo "$template/prefix"
}

# A copy of the template: everything but the builtin libraries is copied, and
# those are hard links. Made beside the prefix and renamed, so a copy cut
# short is never taken for a prefix.
clone_prefix() {
    local from=$1 to=$2 part=$2.part folder
    rm -rf "$part"
    mkdir -p "$part"
    (cd "$from" && tar --exclude=./drive_c/windows/system32 --exclude=./drive_c/windows/syswow64 -cf - .) |
        (cd "$part" && tar -xpf -)
    for folder in system32 syswow64; do
        [ -d "$from/drive_c/windows/$folder" ] || continue
        cp -al "$from/drive_c/windows/$folder" "$part/drive_c/windows/$folder"
        # Only the libraries and programs are shared; every other file is the copy's own.
        find "$part/drive_c/windows/$folder" -type f ! \( -iname '*.dll' -o -iname '*.exe' -o -iname '*.sys' \
            -o -iname '*.drv' -o -iname '*.nls' -o -iname '*.ocx' -o -iname '*.acm' -o -iname '*.cpl' \
            -o -iname '*.tlb' -o -iname '*.ax' -o -iname '*.vxd' -o -iname '*.com' \) \
            -exec sh -c 'for f; do cp -p "$f" "$f.own" && mv -f "$f.own" "$f"; done' sh {} +
    done
    mv "$part" "$to"
}

make_prefix() {
    if [ -e "$prefix" ]; then
        echo "wine-run: $prefix was never marked complete (its creation failed or was cut short); making it again" >&2
        end_server
        rm -rf "$prefix"
    fi
    local template
    template=$(template_prefix) || exit 1
    clone_prefix "$template" "$prefix"
    [ -f "$complete" ] || { echo "wine-run: copying the prefix $template failed" >&2; exit 1; }
}

# The lane's own copy of the build's programs: a hard link for each program,
# library and data file the build writes there (never the files tests leave
# beside them), renewed when the build made a new one.
mirror_programs() {
    local mirror=$state/bin file name
    mkdir -p "$mirror"
    for file in "$build/bin"/*.exe "$build/bin"/*.dll "$build/bin"/*.jpg; do
        [ -f "$file" ] || continue
        name=${file##*/}
        [ "$file" -ef "$mirror/$name" ] || ln -f "$file" "$mirror/$name"
    done
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
program=$1
shift
if [ -n "$lane" ] && [ "$(dirname "$(realpath -m "$program")")" = "$build/bin" ]; then
    mirror_programs
    program=$state/bin/${program##*/}
fi
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

# The test a command runs, for the watchdog's report.
test_name() {
    local argument
    for argument in "$@"; do
        case "$argument" in
        --gtest_filter=*) echo "${argument#--gtest_filter=}"; return ;;
        esac
    done
    basename "$program"
}

# The stacks of every thread of the program, for the watchdog's report: Wine's
# debugger gives the addresses, and the build's own addr2line names the
# function, file and line of each frame in the program.
backtraces() {
    local exe info pid tids base tool=x86_64-w64-mingw32-addr2line
    # "  3 0x... Function+0x24(arguments) [source] in module (...)"
    local frame='^[= ]*[0-9]+ 0x[0-9a-f]+ (([^ (]+)[^[]*\[[^]]*\] )?in ([A-Za-z0-9_.]+)'
    exe=$(basename "$program")
    [ "$arch" = win32 ] && tool=i686-w64-mingw32-addr2line
    info=$(timeout 30 "$loader" winedbg --command "info thread" 2>/dev/null 9>&-) || return 0
    pid=$(echo "$info" | awk -v exe="$(echo "$exe" | tr 'A-Z' 'a-z')" 'tolower($2) == exe { print $1; exit }')
    [ -n "$pid" ] || return 0
    tids=$(echo "$info" | awk -v p="$pid" '/^[0-9a-f]/ { mine = $1 == p; next } mine { print $1 }')
    base=$(x86_64-w64-mingw32-objdump -p "$program" 2>/dev/null | awk '$1 == "ImageBase" { print $2 }')
    { echo "attach 0x$pid"; for tid in $tids; do echo "bt 0x$tid"; done; echo detach; echo quit; } |
        timeout 60 "$loader" winedbg 2>/dev/null 9>&- |
        while IFS= read -r line; do
            if [[ $line == *Backtrace:* ]]; then
                echo "  a thread:"
            elif [[ $line =~ in\ ${exe%.exe}\ \(\+0x([0-9a-f]+)\) ]] && [ -n "$base" ]; then
                echo "    $("$tool" -e "$program" -f -C -p "$(printf '0x%x' $((0x$base + 0x${BASH_REMATCH[1]})))")"
            elif [[ $line =~ $frame ]]; then
                echo "    ${BASH_REMATCH[3]}: ${BASH_REMATCH[2]:-?}"
            fi
        done
}

# Runs the program under the watchdog: past the limit the report goes to the
# log first, then every Wine process of the prefix is ended (a lane runs one
# test at a time). Nothing here but the program may hold the caller's output.
run_watched() {
    local limit=$1 output=$state/output.$$ note=$state/wait-note.$$ left pid sleeper ended status
    shift
    rm -f "$output" "$note"
    export KELDORA_WAIT_NOTE="Z:${note//\//\\}"
    left=$((limit - ($(date +%s%N) - started) / 1000000000))
    [ "$left" -gt 0 ] || left=1
    "$loader" "$program" "$@" > >(tee -a "$output") 2> >(tee -a "$output" >&2) &
    pid=$!
    sleep "$left" </dev/null >/dev/null 2>&1 &
    sleeper=$!
    status=0
    wait -n -p ended "$pid" "$sleeper" || status=$?
    if [ "$ended" = "$pid" ]; then
        rc=$status
        kill "$sleeper" 2>/dev/null || true
    else
        {
            echo "wine-run: $(test_name "$@") ran past its limit of $limit s and is ended now"
            if [ -s "$note" ]; then
                echo "wine-run: it was waiting for: $(tr -d '\r' <"$note")"
            else
                echo "wine-run: it was in none of the tests' waits"
            fi
            echo "wine-run: its last output lines:"
            tail -n 20 "$output" | sed 's/^/    /'
            echo "wine-run: where its threads stood:"
            backtraces
        } >&2
        wineserver -k 9>&- 2>/dev/null || true
        kill "$pid" 2>/dev/null || true
        wait "$pid" || true
        rc=124
    fi
    rm -f "$output" "$note"
}

# What a test left running (a program it started, or one that program
# started) keeps the caller's output open, so CTest waits for it until its
# time-out, and shows its windows to the next test: a lane runs one test at a
# time, so once the test's program has ended every process of the prefix but
# Wine's own is ended.
end_leftovers() {
    local pid line pass found
    # A program may still be starting another: the scan is repeated until it finds nothing.
    for pass in 1 2 3 4 5; do
        found=no
        for pid in $(pgrep -f '^[A-Za-z]:\\' || true); do
            grep -qzxsF "WINEPREFIX=$prefix" "/proc/$pid/environ" 2>/dev/null || continue
            line=$(tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline" | cut -c1-200) || true
            case "$line" in
            "" | [Cc]:\\[Ww][Ii][Nn][Dd][Oo][Ww][Ss]\\*) ;;
            *)
                echo "wine-run: $(basename "$program") left $line running; it is ended" >&2
                kill -9 "$pid" 2>/dev/null || true
                found=yes
                ;;
            esac
        done
        [ "$found" = yes ] || return 0
        sleep 0.2
    done
}

# Wine says nothing when it cannot start a program (WINEDEBUG=-all hides its
# own message): a failure is told here with its exit code, so that a test that
# ended without a line of output still names what happened (53: the program
# or one of its libraries could not be loaded).
run_started=$(date +%s%N)
rc=0
if [ -n "${KELDORA_WATCHDOG_SECONDS:-}" ]; then
    run_watched "$KELDORA_WATCHDOG_SECONDS" "$@"
else
    "$loader" "$program" "$@" || rc=$?
fi
[ "$owns_lane" = yes ] && end_leftovers
if [ "$rc" -ne 0 ]; then
    echo "wine-run: $(basename "$program") ended with exit code $rc after $((($(date +%s%N) - run_started) / 1000000)) ms" >&2
fi
exit "$rc"
