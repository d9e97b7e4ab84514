# The startup agent's demo, sourced by scripts/demo.sh after the build (uses
# root, win_build and wine_run from scripts/common.sh). Seeds the Wine prefix
# with Run entries and Startup files, starts kdAgent.exe from a folder of its
# own, shows the take-over, opens the tray menu for a screenshot and ends the
# agent with message 1125.

# Succeeds when a program that the demo seeds as a Run entry or Startup file
# runs in the build's prefix.
seeded_program_running() {
    local pid
    for pid in $(pgrep -f -i 'notepad\.exe|calc\.exe|winemine\.exe|Locations\.exe'); do
        tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$win_build/wine/prefix" && return 0
    done
    return 1
}

agent_demo() {
    local folder=$win_build/demo-agent
    local shots=$win_build/demo
    local run_user='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
    local run_machine='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
    local ctl=$win_build/bin/kdAgentCtl.exe

    local user_startup all_startup
    user_startup=$(wine_run winepath -u 'C:\users\root\AppData\Roaming\Microsoft\Windows\Start Menu\Programs\StartUp' 2>/dev/null)
    all_startup=$(wine_run "$win_build/bin/kdLocations.exe" | awk '$1 == "8" { sub(/^.*\(folder\) +/, ""); print }' | tr -d '\r')
    all_startup=$(wine_run winepath -u "$all_startup" 2>/dev/null)
    if [ -z "$user_startup" ] || [ -z "$all_startup" ]; then
        echo "agent demo: the Startup folders of the prefix are unknown" >&2
        return 1
    fi

    echo
    echo "== Seeding the Wine prefix: Run entries and Startup files"
    for key in "$run_user" "$run_machine"; do
        wine_run reg delete "$key" /f >/dev/null 2>&1 || true
    done
    rm -rf "$user_startup" "$all_startup" "$folder"
    mkdir -p "$user_startup" "$all_startup" "$folder" "$shots"
    wine_run reg add "$run_user" /v "Notepad" /d 'C:\windows\notepad.exe' /f >/dev/null
    wine_run reg add "$run_user" /v "Calculator.exe" /d '"C:\windows\system32\calc.exe" /quiet' /f >/dev/null
    wine_run reg add "$run_machine" /v "Mines" /d 'C:\windows\system32\winemine.exe' /f >/dev/null
    echo "Remember the milk." >"$user_startup/Shopping list.txt"
    cp "$win_build/bin/kdLocations.exe" "$all_startup/Locations.exe"
    wine_run reg query "$run_user"
    wine_run reg query "$run_machine"
    echo "User Startup folder:      $(ls "$user_startup")"
    echo "All-users Startup folder: $(ls "$all_startup")"

    echo
    echo "== Starting kdAgent.exe from $folder"
    cp "$win_build/bin/kdAgent.exe" "$folder/"
    # Message boxes are written to a file instead of waiting for a click.
    export KDAGENT_MESSAGE_LOG
    KDAGENT_MESSAGE_LOG=$(wine_run winepath -w "$folder/messages.log")
    wine_run "$folder/kdAgent.exe" &
    local agent=$!
    wine_run "$ctl" wait
    wine_run "$ctl" refresh >/dev/null

    echo
    echo "== The take-over: the store beside each location"
    wine_run reg query "$run_user\\Keldora" /s
    wine_run reg query "$run_machine\\Keldora" /s
    echo "User Startup folder now holds: $(ls -A "$user_startup" | tr '\n' ' ')"
    echo "Its hidden store folder (DOS attributes $(python3 -c 'import os, sys; print(os.getxattr(sys.argv[1], "user.DOSATTRIB").decode())' "$user_startup/Keldora")):"
    ls -la "$user_startup/Keldora"
    sed 's/\r$//' "$user_startup/Keldora/Keldora.ini"
    echo "config.dat:"
    sed 's/\r$//' "$folder/config.dat"

    echo
    echo "== The tray menu with Quick Launch open"
    wine_run "$ctl" popup
    sleep 1
    wine_run "$ctl" keys 40 40 39
    sleep 1
    # Wine starts Run entries and Startup files only at a logon, which
    # cmake/wine-run.sh never runs: the shot shows the agent's menu alone.
    if seeded_program_running; then
        echo "agent demo: a seeded program runs in the prefix; no screenshot" >&2
        return 1
    fi
    local display=${DISPLAY:-$(cat "$win_build/wine/xvfb.display")}
    import -display "$display" -window root "$shots/agent-menu.png"
    echo "Screenshot: $shots/agent-menu.png"
    wine_run "$ctl" keys 27 27 27

    echo
    echo "== Ending the agent with message 1125"
    wine_run "$ctl" quit
    wait "$agent" && echo "kdAgent.exe has ended"
    if [ -s "$folder/messages.log" ]; then
        echo "Messages the agent showed:"
        cat "$folder/messages.log"
    fi
}

agent_demo
