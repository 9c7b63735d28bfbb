#!/bin/bash
# make demo: runs the launcher built with the demo payload under Wine, as a user would
# start it, and tells what happened: where it unpacked, what it started with which
# command line, what the setup program installed, and whether the cleanup script left
# the temporary directory as it was.
#   scripts/demo.sh [TREE]      TREE defaults to build/win32
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
tree=${1:-$top/build/win32}
wine_run=$tree/wine-run
launcher=$tree/bin/ZIZeduz.exe
out=$tree/demo
# The setup program keeps its window open this long, so that the unpacked files can be
# looked at before the cleanup removes them.
hold_ms=6000

for needed in "$wine_run" "$launcher"; do
  [ -e "$needed" ] || { echo "demo: $needed is missing; run 'make build' first" >&2; exit 1; }
done
rm -rf "$out"
mkdir -p "$out"

win() { "$wine_run" "$@" 2>/dev/null | tr -d '\r'; }
temp_win=$(win cmd /c 'echo %TEMP%')
temp_unix=$(win winepath -u "$temp_win")
[ -d "$temp_unix" ] || { echo "demo: cannot find the Wine user's temporary directory" >&2; exit 1; }
# An elevated launcher, as every program under Wine is, keeps its setup folder and
# cleanup script in the system's temporary folder, out of reach of the user's other
# programs.
system_temp_win="$(win cmd /c 'echo %SystemRoot%')\Temp"
system_temp_unix=$(win winepath -u "$system_temp_win")
report_unix=$out/setup-report.txt
report_win=$(win winepath -w "$report_unix")

display=${DISPLAY:-}
[ -n "$display" ] || display=$(cat "$tree/wineprefix.state/xvfb.display" 2>/dev/null || true)
shot() { DISPLAY=$display import-im6.q16 -silent -window root "$@" 2>/dev/null; }

listing() { (cd "$temp_unix" && find . -mindepth 1 | LC_ALL=C sort); }
system_listing() { (cd "$system_temp_unix" 2>/dev/null && find . -mindepth 1 | LC_ALL=C sort); }
before=$(listing)
system_before=$(system_listing)

started=$(date +%s)
KM_STANDIN_REPORT=$report_win KM_STANDIN_HOLD_MS=$hold_ms "$wine_run" "$launcher" 2>/dev/null
code=$?

# The setup program is holding its window: the setup folder and the script are complete.
new_entries=$(comm -13 <(echo "$before") <(listing))
work_unix=$temp_unix; work_win=$temp_win
if ! echo "$new_entries" | grep -qE '^\./[0-9]+\.bat$'; then
  new_entries=$(comm -13 <(echo "$system_before") <(system_listing))
  work_unix=$system_temp_unix; work_win=$system_temp_win
fi
script_rel=$(echo "$new_entries" | grep -E '^\./[0-9]+\.bat$' | head -n1)
script_unix=$work_unix/$script_rel; script_win=$work_win\\${script_rel#./}
setup_rel=$(echo "$new_entries" | grep -E '^\./KMGSetup[0-9]+$' | head -n1)
[ -n "$script_rel" ] && cp "$script_unix" "$out/cleanup-script.bat"
extracted=0; folders=0
if [ -n "$setup_rel" ]; then
  extracted=$(find "$work_unix/$setup_rel" -type f | wc -l)
  folders=$(find "$work_unix/$setup_rel" -type d | wc -l)
fi
# The launcher ends as soon as the setup program takes the focus; give its window a
# moment to be drawn.
[ -n "$display" ] && [ "$code" = 0 ] && sleep 2 && shot "$out/setup-window.png"

# The report appears when the setup program ends; the script then deletes itself last.
for _ in $(seq 1 600); do [ -e "$report_unix" ] && break; sleep 0.1; done
if [ -n "$script_rel" ]; then
  for _ in $(seq 1 600); do [ -e "$script_unix" ] || break; sleep 0.1; done
fi
after=$(listing)
system_after=$(system_listing)

# The splash is up only while the payload is unpacked, too briefly to be caught
# reliably; this shows the same splash from the product's own resources and saves
# the screen as the user sees it.
splash=""
if "$wine_run" "$tree/bin/splash_screenshot.exe" "$(win winepath -w "$out/splash.png")" >/dev/null 2>&1; then
  splash=$out/splash.png
fi

value() { grep -a "^$1=" "$report_unix" 2>/dev/null | head -n1 | cut -d= -f2- | tr -d '\r'; }
values() { grep -a "^$1=" "$report_unix" 2>/dev/null | cut -d= -f2- | tr -d '\r'; }

echo "Kalmora setup launcher under Wine ($(wine --version 2>/dev/null)), $(date -d "@$started" '+%H:%M:%S')"
echo "  launcher          $(win winepath -w "$launcher"), $(stat -c %s "$launcher") bytes"
echo "  temporary folder  $temp_win\\"
case $code in
  0) meaning="the setup program was started" ;;
  1) meaning="too little free space on the temporary drive; nothing was unpacked" ;;
  2) meaning="the payload could not be unpacked; nothing was left behind" ;;
  *) meaning="unexpected" ;;
esac
if [ -n "$setup_rel" ]; then
  echo "  setup folder      $work_win\\${setup_rel#./}\\ ($extracted files in $folders folders unpacked)"
fi
if [ -n "$script_rel" ]; then
  echo "  cleanup script    $script_win ($(grep -c '' "$out/cleanup-script.bat") lines," \
       "$(grep -c '^del ' "$out/cleanup-script.bat") del, $(grep -c '^rmdir ' "$out/cleanup-script.bat") rmdir; copy in $out/cleanup-script.bat)"
fi
if [ -e "$report_unix" ]; then
  echo "  setup program     $(value Program) $(value Arguments)"
  [ -z "$(value PassedArguments)" ] && echo "                    (ends with one blank: the launcher got no arguments to pass on)"
  echo "                    started in $(value CurrentDirectory), window $(value Window)"
  echo "  installed         $(values Installed | wc -l) files into $(value InstallFolder)"
  values Archive | sed 's/^/                    /'
  echo "  cleanup           started by the setup program: $(value CleanupStarted)"
elif [ "$code" = 0 ]; then
  echo "  setup program     wrote no report (see $report_unix)"
fi
script_left=no
[ -n "$script_rel" ] && [ -e "$script_unix" ] && script_left=yes
if [ "$before" = "$after" ] && [ "$system_before" = "$system_after" ] && [ $script_left = no ]; then
  echo "  temporary folders clean again: exactly as before the run, and the script is gone"
else
  echo "  temporary folders NOT clean: left behind:"
  comm -13 <(echo "$before") <(echo "$after") | sed 's/^\.\//                    /'
  comm -13 <(echo "$system_before") <(echo "$system_after") | sed 's/^\.\//                    /'
  [ $script_left = yes ] && echo "                    $script_win"
fi
echo "  exit code         $code ($meaning)"
[ -n "$splash" ] && echo "  splash screenshot $splash"
[ -e "$out/setup-window.png" ] && echo "  setup window      $out/setup-window.png"
[ -z "$splash" ] && echo "  splash screenshot none: the splash could not be shown"
"$wine_run" --shutdown
[ "$code" = 0 ] && [ "$before" = "$after" ] && [ "$system_before" = "$system_after" ] && [ $script_left = no ]
