# The update demo, sourced by scripts/demo.sh after the agent demo (uses root,
# win_build and wine_run from scripts/common.sh). A local HTTP server publishes
# an information file and release 2.0 of the demo product, made and signed by
# the publisher's command kdrelease (the native build, built here first: a
# P-256 key pair, then every file of the release folder with its digest and
# size, the product, an expiry and the signature); the installed update.ini
# holds the public key and the product's name. The product 1.0 starts freshet.exe, the user's answers
# come from kdAnswer.exe, and the script prints what changed. Two runs, each in
# a program folder of its own:
#   silent:  kdProduct.exe starts "freshet.exe /silent <its window>";
#   visible: kdProduct.exe /update starts "freshet.exe update <its window>".
# Screenshots of the ask dialog and of the update window during the download
# go to $win_build/demo. Can also be run on its own after the x86_64 build:
#   bash demo/update-demo.sh

# The release beside the installed files: the updater's own copy comes first
# (kdrelease lists the files by name), so the stub restarts freshet.exe with
# "/verysilent"; with one argument it is a launcher and starts "ProcessName"
# of the new update.ini, the product 2.0. After "url" and "url0" the engine
# reads "url3" (it counts on from the files it has), so update.ini is url3.
release_notes='<b>Keldora Demo Product 2.0</b> is out.<br><ul><li>The version shows in <i>bold</i></li><li>Downloads with <font color="clBlue">progress</font></li><li><font color="clRed">Two</font> fixed crashes</li></ul><a href="http://example.com/notes">Release notes</a>'

x11_driver='HKCU\Software\Wine\X11 Driver'
product_name='Keldora Demo Product'

update_demo() {
    local bin=$win_build/bin
    local work=$win_build/demo-update
    local shots=$win_build/demo
    local answer=$bin/kdAnswer.exe
    local program
    for program in freshet kdProduct kdProduct2 kdAnswer; do
        [ -f "$bin/$program.exe" ] || { echo "update demo: build $program first" >&2; return 1; }
    done
    local kdrelease=$native_build/bin/kdrelease
    echo "update demo: building kdrelease (native)"
    configure_native && cmake --build "$native_build" --target kdrelease -j"$jobs" >/dev/null || return 1
    rm -rf "$work"
    mkdir -p "$work/www" "$shots"
    touch "$work/requests.log"

    # About ten seconds for the product's download, so the progress can be
    # seen. The engine reads 256 KiB at a time and reports progress after each
    # read: the screenshot waits for the second report.
    local size chunk=4096 slow shot_delay
    size=$(stat -c %s "$bin/kdProduct2.exe")
    slow=$((10000 * chunk / size))
    shot_delay=$((10 * 524288 / size + 1))
    python3 "$root/tests/tools/httpserver.py" --root "$work/www" --port-file "$work/port" --time-limit 900 \
        --log "$work/requests.log" --throttle "/kdProduct.exe=$slow:$chunk" >/dev/null 2>&1 &
    update_demo_server=$!
    ( while :; do ps -eo args | grep -aiE '^[A-Z]:\\.*(freshet|zeredira3|kdproduct)' || true; sleep 0.05; done ) \
        >"$work/processes.log" 2>/dev/null &
    update_demo_watcher=$!
    trap 'update_demo_stop; stop_wine' EXIT
    # There is no window manager on the Xvfb display: Wine is told to draw the
    # captions itself and not to wait for a manager whenever a window hides.
    wine_run reg add "$x11_driver" /v Decorated /d N /f >/dev/null 2>&1
    wine_run reg add "$x11_driver" /v Managed /d N /f >/dev/null 2>&1
    local display=${DISPLAY:-$(cat "$win_build/wine/xvfb.display")}
    for _ in $(seq 1 100); do [ -s "$work/port" ] && break; sleep 0.1; done
    local base="http://127.0.0.1:$(cat "$work/port")"

    # The publisher's key pair; update.ini holds the public key kdrelease prints.
    "$kdrelease" keygen "$work/publisher.pem" >"$work/keygen.txt" || return 1
    public_key=$(sed -n 's/^PublicKey=//p' "$work/keygen.txt")
    cp "$bin/freshet.exe" "$work/www/freshet.exe"
    cp "$bin/kdProduct2.exe" "$work/www/kdProduct.exe"
    write_update_ini "$work/www/update.ini" 2.0 "$base"
    printf '%s' "$release_notes" >"$work/notes.html"
    # Every file of the folder, in name order: the updater's own copy comes
    # first. The test server speaks plain http, hence --allow-http; the
    # signature covers every file. The file expires in 30 days.
    "$kdrelease" make --key "$work/publisher.pem" --version 2.0 --product "$product_name" --base-url "$base/" \
        --allow-http --expires 30 --message "$work/notes.html" "$work/www" || return 1
    "$kdrelease" verify --public-key "$public_key" --product "$product_name" --installed 1.0 \
        "$work/www/info.txt" "$work/www" || return 1

    echo
    echo "== Update: the information file published at $base/info.txt, signed with the publisher's key"
    sed 's/\r$//' "$work/www/info.txt"

    update_run silent "" || return 1
    update_run visible /update || return 1

    update_demo_stop
    trap stop_wine EXIT
    echo
    echo "Screenshots: $(ls "$shots"/update-*.png | tr '\n' ' ')"
}

# write_update_ini FILE VERSION BASE-URL: with the publisher's key and the
# product's name, so only signed releases of this product are installed.
write_update_ini() {
    printf '[UpdateInfo]\r\nProcessName=kdProduct.exe\r\nVersion=%s\r\n' "$2" >"$1"
    printf 'InfoURL=%s/info.txt\r\nFailedURL=%s/failed.html\r\n' "$3" "$3" >>"$1"
    printf 'Product=%s\r\nPublicKey=%s\r\n' "$product_name" "$public_key" >>"$1"
}

# update_run NAME PRODUCT-ARGUMENT: one update of a fresh 1.0 installation.
update_run() {
    local name=$1 argument=$2
    local folder=$work/$name
    local log=$folder/kdProduct.log
    mkdir -p "$folder"
    cp "$bin/kdProduct.exe" "$bin/freshet.exe" "$folder/"
    write_update_ini "$folder/update.ini" 1.0 "$base"
    local before
    before=$(file_table "$folder")

    echo
    echo "== Update, $name run: $folder holds kdProduct.exe 1.0, freshet.exe and update.ini"
    sed 's/\r$//' "$folder/update.ini"
    local first_request
    first_request=$(wc -l <"$work/requests.log")
    wine_run "$folder/kdProduct.exe" $argument &
    local product=$!

    # In a visible run the update window is up behind the dialog: both go in the picture.
    local dialog window
    dialog=$(wine_run "$answer" wait freshet.exe '#32770' - 60 | tr -d '\r') || return 1
    window=$dialog
    [ -n "$argument" ] && { window=$(wine_run "$answer" wait freshet.exe - 'Freshet!' 5 | tr -d '\r') || return 1; }
    sleep 1
    shoot "$shots/update-$name-ask.png" "$(union "$dialog" "$window")" 8 || return 1
    echo "The ask dialog is up (screenshot update-$name-ask.png); answering Yes"
    wine_run "$answer" click freshet.exe '#32770' - Yes >/dev/null || return 1
    window=$(wine_run "$answer" wait freshet.exe - 'Freshet!' 30 | tr -d '\r') || return 1
    wait_for_line "$work/requests.log" '"/kdProduct.exe' 30 "$first_request" || return 1
    sleep "$shot_delay"
    shoot "$shots/update-$name-progress.png" "$window" 8 || return 1
    echo "The update window during the download (screenshot update-$name-progress.png)"

    # The product 2.0 comes back through the stub and the launcher, starts the
    # updater once more, and that check finds nothing newer.
    wait_for_line "$log" '^[0-9]+ 2\.0 updater-started' 120 || return 1
    wait "$product" || true
    wait_until_gone "$folder" 'freshet\.exe|zeredira3\.exe' 60 || return 1

    echo "-- What changed"
    echo "Product log (Unix ms, version, event, detail):"
    sed 's/\r$//; s/^/  /' "$log"
    grep -q ' 1\.0 close-request 1133' "$log" && echo "kdProduct 1.0 received message 1133 and closed"
    local installed
    installed=$(sed -n 's/^Version=//p' "$folder/update.ini" | tr -d '\r')
    echo "Versions: before 1.0, after $(awk '{ v = $2 } END { print v }' "$log") (update.ini: $installed)"
    echo "Files (size, md5) before -> after:"
    join -a1 -a2 -e '(none)' -o 0,1.2,2.2 <(echo "$before") <(file_table "$folder") |
        awk '{ printf "  %-16s %-44s -> %s%s\n", $1, $2, $3, ($2 == $3 ? "" : "   replaced") }'
    echo "Pending .uTMP files left: $(find "$folder" -name '*.uTMP' | wc -l)"
    echo "Requests to the server:"
    tail -n +"$((first_request + 1))" "$work/requests.log" | python3 -c '
import json, sys
for line in sys.stdin:
    print("  " + json.loads(line)["path"])'
    echo "Started during the run (Windows command lines):"
    grep -aiF "$(windows_path "$folder")" "$work/processes.log" |
        awk '!seen[$0]++ { print "  " $0 }'
    echo "Restart arguments: $(grep -aiF "$(windows_path "$folder")" "$work/processes.log" |
        grep -aioE 'freshet\.exe /verysilent.*' | head -n 1 | cut -d' ' -f2-)"
    : >"$work/processes.log"

    wine_run "$answer" close kdProduct.exe KeldoraDemoProduct - 10 || return 1
    wait_for_line "$log" '^[0-9]+ 2\.0 end' 30 || return 1
    wait_until_gone "$folder" 'kdproduct\.exe' 30
}

# file_table FOLDER: "name size:md5" for each file, by name.
file_table() {
    local file
    for file in "$1"/*; do
        [ -f "$file" ] || continue
        case "$file" in *.log) continue ;; esac
        echo "$(basename "$file") $(stat -c %s "$file"):$(md5sum <"$file" | cut -c1-8)"
    done | sort
}

# shoot FILE "X Y WIDTH HEIGHT" MARGIN: a screenshot of that part of the screen.
shoot() {
    local x y w h margin=$3
    read -r x y w h <<<"$2"
    x=$((x > margin ? x - margin : 0))
    y=$((y > margin ? y - margin : 0))
    import -display "$display" -window root -crop "$((w + 2 * margin))x$((h + 2 * margin))+$x+$y" +repage "$1"
}

# union "X Y W H" "X Y W H": the smallest rectangle holding both.
union() {
    local ax ay aw ah bx by bw bh
    read -r ax ay aw ah <<<"$1"
    read -r bx by bw bh <<<"$2"
    local left=$((ax < bx ? ax : bx)) top=$((ay < by ? ay : by))
    local right=$((ax + aw > bx + bw ? ax + aw : bx + bw)) bottom=$((ay + ah > by + bh ? ay + ah : by + bh))
    echo "$left $top $((right - left)) $((bottom - top))"
}

# wait_for_line FILE REGEX SECONDS [AFTER-LINE]
wait_for_line() {
    local i
    for i in $(seq 1 $(($3 * 10))); do
        tail -n +"$((${4:-0} + 1))" "$1" 2>/dev/null | grep -qaE "$2" && return 0
        sleep 0.1
    done
    echo "update demo: no line matching '$2' in $1 after $3 s" >&2
    return 1
}

# The Windows form of a folder of the prefix's Z: drive.
windows_path() {
    echo "Z:${1//\//\\}"
}

# wait_until_gone FOLDER PROGRAMS SECONDS: until no Windows process whose command
# line names FOLDER is one of PROGRAMS (a regular expression, any case). Other
# prefixes on the machine run programs of the same names.
wait_until_gone() {
    local i folder
    folder=$(windows_path "$1")
    for i in $(seq 1 $(($3 * 10))); do
        ps -eo args | grep -aiF "$folder" | grep -qaiE "$2" || return 0
        sleep 0.1
    done
    echo "update demo: $2 still runs in $1 after $3 s" >&2
    return 1
}

update_demo_stop() {
    wine_run reg delete "$x11_driver" /v Decorated /f >/dev/null 2>&1 || true
    wine_run reg delete "$x11_driver" /v Managed /f >/dev/null 2>&1 || true
    local pid
    for pid in ${update_demo_watcher:-} ${update_demo_server:-}; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    update_demo_watcher=
    update_demo_server=
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -euo pipefail
    source "$(dirname "$0")/../scripts/common.sh"
    update_demo
else
    update_demo
fi
