#!/usr/bin/env bash
# Screenshots of the engine's ask-to-upgrade dialog in Russian and in Chinese
# with a release message in markup, under an Xvfb of its own. Run by hand
# after the x86_64 build (it is no test): demo/ask-dialog-shots.sh [OUT-DIR]
# Each dialog runs with the host locale of its language, so that Wine's ANSI
# code page is the one the release message is written in; the dialog fonts
# are linked to the CJK font of the set-up script for the Chinese glyphs.
set -euo pipefail
source "$(dirname "$0")/../scripts/common.sh"

out=${1:-$win_build/demo}
prefix=$win_build/wine/prefix
shower=$win_build/bin/auAskDialogShow.exe
run="$root/cmake/wine-run.sh $prefix"
[ -x "$shower" ] || { echo "ask-dialog-shots: build auAskDialogShow first" >&2; exit 1; }
mkdir -p "$out"

# A display of its own, whose number the server picks itself (fd 3).
number_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$number_file" >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true; rm -f "$number_file"' EXIT
for _ in $(seq 1 100); do
    [ -s "$number_file" ] || ! kill -0 "$xvfb" 2>/dev/null && break
    sleep 0.1
done
[ -s "$number_file" ] || { echo "ask-dialog-shots: Xvfb did not start" >&2; exit 1; }
display=:$(cat "$number_file")
export DISPLAY=$display

link='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
for face in Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif"; do
    $run reg add "$link" /v "$face" /t REG_MULTI_SZ /d "wqy-microhei.ttc,WenQuanYi Micro Hei" /f >/dev/null
done

# shot NAME LOCALE CODEPAGE ORDINAL MESSAGE
shot() {
    local notes=$out/$1-notes.txt
    printf '%s' "$5" | iconv -f UTF-8 -t "$3" >"$notes"
    LANG=$2.UTF-8 LOCPATH=$win_build/locales $run "$shower" "$4" "$($run winepath -w "$notes" 2>/dev/null)" 6 &
    local shower_pid=$!
    sleep 4
    # The dialog alone: the screen around it is black.
    import -display "$display" -window root png:- | convert - -trim +repage "$out/ask-dialog-$1.png"
    wait "$shower_pid"
    echo "ask-dialog-shots: $out/ask-dialog-$1.png"
}

shot ru ru_RU CP1251 2 '<b>Версия 2.0</b> вышла.<br><ul><li>Быстрее <i>загрузка</i></li><li>Новые <font color="clRed">языки</font></li></ul><a href="http://example.com/notes">Подробнее о выпуске</a>'
shot zh zh_CN GBK 22 '<b>版本 2.0</b> 已发布。<br><ul><li>下载<i>更快</i></li><li>新增<font color="clRed">语言</font></li></ul><a href="http://example.com/notes">发行说明</a>'
