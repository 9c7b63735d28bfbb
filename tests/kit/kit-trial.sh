#!/bin/bash
# make kit-trial: a vendor's first setup, made with nothing but the kit (dist/) and
# run under Wine end to end:
#   - the kit's checksums hold, and its README names every option kmarc's help has;
#   - the example payload with the example setup programs, plus 800 help pages of
#     the vendor's in BASE, and a picture of the vendor's own (vendor_picture.py)
#     become NordwindSetup.exe through the kit's Linux kmarc, and kmarc.exe under
#     Wine makes the same bytes;
#   - the setup runs twice under Wine. The splash is up while the setup unpacks,
#     which the help pages make last a few seconds: screenshots are taken until one
#     shows the picture's gold band (splash.png). The second run keeps the example
#     setup program's window open for a screenshot (setup-window.png). Each run must
#     install APPBASE and PHOTOUNINST byte for byte and leave the temporary folders
#     as they were.
#   tests/kit/kit-trial.sh [KIT]     KIT defaults to dist/; results in build/kit-trial/
# Wine runs through the win32 tree's wrapper, for its prefix and its display.
set -u
top=$(cd "$(dirname "$0")/../.." && pwd)
kit=$(cd "${1:-$top/dist}" && pwd)
wine_run=$top/build/win32/wine-run
out=$top/build/kit-trial
# The gold band of the vendor's picture: 440 by 50 pixels.
gold='#F2C12E'
gold_pixels=22000

failures=0
check() {  # check DESCRIPTION COMMAND...: runs the command, reports the outcome
  local what=$1; shift
  if "$@" >"$out/check.log" 2>&1; then
    echo "  ok    $what"
  else
    echo "  FAIL  $what"; sed 's/^/          /' "$out/check.log" | head -20
    failures=$((failures + 1))
  fi
}

for needed in "$wine_run" "$kit/kmarc" "$kit/ZIZeduz.exe"; do
  [ -e "$needed" ] || { echo "kit-trial: $needed is missing; run 'make dist' first" >&2; exit 1; }
done
rm -rf "$out"
mkdir -p "$out"
# The vendor has the kit and nothing else of this project.
cp -R "$kit" "$out/kit"
cd "$out/kit" || exit 1

echo "Kit trial in $out"
check "the kit's checksums hold (sha256sum -c SHA256SUMS)" sha256sum --quiet -c SHA256SUMS

readme_names_options() {
  local help options missing=""
  help=$(./kmarc --help; for command in pack list verify extract embed; do ./kmarc help "$command"; done)
  options=$(grep -oE '(^|[ ,/(])--?[a-z][a-z-]*' <<<"$help" | sed 's/^[ ,\/(]//' | sort -u)
  for option in $options; do
    grep -qe "$option" README.md || missing="$missing $option"
    grep -qe "${option//-/\\\\-}" kmarc.1 || missing="$missing $option(kmarc.1)"
  done
  [ -z "$missing" ] || { echo "not documented:$missing"; return 1; }
  echo "$(wc -w <<<"$options") options documented"
}
check "README.md and kmarc.1 name every option of kmarc's help" readme_names_options

python3 "$top/tests/kit/vendor_picture.py" "$out/vendor-splash.bmp"
cp -R examples/payload "$out/payload"
mkdir -p "$out/payload/BASE/Help"
for i in $(seq -w 1 800); do
  printf '<html><body><h1>Help topic %s</h1><p>Nordwind Photo</p></body></html>\r\n' "$i" \
    >"$out/payload/BASE/Help/topic$i.htm"
done
embed_options=(--splash "$out/vendor-splash.bmp" --version-info "ProductName=Nordwind Photo"
               --version-info FileVersion=2.5.0.1 --version-info "CompanyName=Nordwind Software")
check "kmarc embed with the example programs and the vendor's splash picture" \
  ./kmarc embed ZIZeduz.exe "$out/payload" -o "$out/NordwindSetup.exe" "${embed_options[@]}"
setup=$out/NordwindSetup.exe
check "kmarc verify of the setup" ./kmarc verify "$setup"

json_lists_all_archives() {
  ./kmarc list --json "$setup" >"$out/list.json" &&
    python3 - "$out/list.json" <<'EOF'
import json, sys
listing = json.load(open(sys.argv[1], encoding='utf-8'))
names = [a['archive'] for a in listing['archives']]
assert names == ['BASE', 'SETUPBASE', 'SETUPPHOTO', 'PHOTOEDITION', 'KMIMAGE', 'KMVERSION', 'APPBASE',
                 'PHOTOUNINST'], names
entries = {e['entry'] for a in listing['archives'] for e in a['entries']}
assert 'Zephrun.exe' in entries and 'lingerx.exe' in entries, sorted(entries)
print(len(entries), 'entries in', len(names), 'archives')
EOF
}
check "kmarc list --json names the eight archives and the example programs" json_lists_all_archives

win() { "$wine_run" "$@" 2>/dev/null | tr -d '\r'; }
winpath() { win winepath -w "$1"; }
# kmarc.exe runs under the Wine of its kind: a 64-bit one needs the 64-bit tree's
# wrapper and prefix (the machine field of its PE header says which).
kmarc_exe_wine=$wine_run
pe_header=$(od -An -tu4 -j60 -N4 kmarc.exe | tr -d ' ')
[ "$(od -An -tx1 -j $((pe_header + 4)) -N2 kmarc.exe | tr -d ' ')" = 6486 ] && kmarc_exe_wine=$top/build/win64/wine-run
same_with_kmarc_exe() {
  local bmp=$out/vendor-splash.bmp
  [ -x "$kmarc_exe_wine" ] || { echo "kmarc.exe is 64-bit and $kmarc_exe_wine is missing"; return 1; }
  "$kmarc_exe_wine" ./kmarc.exe embed --quiet ZIZeduz.exe "$(winpath "$out")\\payload" -o "$(winpath "$out")\\NordwindSetup-win.exe" \
    --splash "$(winpath "$bmp")" "${embed_options[@]:2}" &&
    cmp "$setup" "$out/NordwindSetup-win.exe"
}
check "kmarc.exe under Wine makes the same bytes" same_with_kmarc_exe
[ "$kmarc_exe_wine" = "$wine_run" ] || "$kmarc_exe_wine" --shutdown

# --- the setup under Wine ---------------------------------------------------------
temp_win=$(win cmd /c 'echo %TEMP%')
temp_unix=$(win winepath -u "$temp_win")
system_temp_unix=$(win winepath -u "$(win cmd /c 'echo %SystemRoot%')\\Temp")
display=${DISPLAY:-$(cat "$top/build/win32/wineprefix.state/xvfb.display" 2>/dev/null)}
shot() { DISPLAY=$display import-im6.q16 -silent -window root "$1" 2>/dev/null; }
gold_count() {
  convert-im6.q16 "$1" -fill black +opaque "$gold" -fill white -opaque "$gold" -format '%[fx:mean*w*h]' info: \
    2>/dev/null | cut -d. -f1
}
# An elevated run, as every run under Wine is, unpacks and keeps its script in the
# system's temporary folder; a run without elevation uses the user's.
listing() { (cd "$temp_unix" && find . -mindepth 1; cd "$system_temp_unix" && find . -mindepth 1) | LC_ALL=C sort; }

# Expected install: APPBASE and PHOTOUNINST of the payload, merged.
mkdir -p "$out/expected"
cp -R "$out/payload/APPBASE/." "$out/payload/PHOTOUNINST/." "$out/expected/"

# run_setup NAME [VARIABLE=VALUE...]: runs the setup with the example program's
# settings, waits until its cleanup is done and checks the result.
run_setup() {
  local name=$1; shift
  local report=$out/$name-report.txt install=$out/$name-installed before after code
  before=$(listing)
  env "$@" KM_STANDIN_REPORT="$(winpath "$out")\\$name-report.txt" \
    KM_STANDIN_INSTALL_DIR="$(winpath "$out")\\$name-installed" "$wine_run" "$setup" >/dev/null 2>&1 &
  local launcher=$!
  [ "$name" = splash ] && catch_splash "$launcher"
  wait "$launcher"; code=$?
  [ "$name" = window ] && [ "$code" = 0 ] && sleep 2 && shot "$out/setup-window.png"
  for _ in $(seq 1 600); do [ -e "$report" ] && break; sleep 0.1; done
  # The cleanup script waits for the setup program, deletes and then deletes itself.
  for _ in $(seq 1 300); do after=$(listing); [ "$before" = "$after" ] && break; sleep 0.1; done
  check "$name run: the setup ended with exit code 0" test "$code" = 0
  check "$name run: the example setup program got the launcher's command line" \
    grep -q "^Arguments=KMSetup SetupProgram=ZIZeduz Wnd=Normal Server=None Wnd=Maximized ResourceFile=" "$report"
  check "$name run: APPBASE and PHOTOUNINST installed byte for byte" diff -r "$out/expected" "$install"
  check "$name run: the cleanup ran and the temporary folders are as before" test "$before" = "$after"
  local folder script
  folder=$(win winepath -u "$(grep -a '^CurrentDirectory=' "$report" | cut -d= -f2- | tr -d '\r')")
  script=$(win winepath -u "$(grep -a '^CleanUp=' "$report" | cut -d= -f2- | tr -d '\r')")
  check "$name run: the setup folder and the script the setup program got are gone" \
    test -n "$folder" -a -n "$script" -a ! -e "$folder" -a ! -e "$script"
}

# Screenshots until the splash shows the gold band, while the launcher runs.
catch_splash() {
  local launcher=$1 count
  for _ in $(seq 1 100); do
    kill -0 "$launcher" 2>/dev/null || break
    shot "$out/screen.png" || { sleep 0.2; continue; }
    count=$(gold_count "$out/screen.png")
    if [ "${count:-0}" -ge "$gold_pixels" ]; then
      mv "$out/screen.png" "$out/splash.png"
      return
    fi
    sleep 0.2
  done
}

if [ -z "$display" ]; then
  # The wrapper starts the tree's Xvfb on its first use.
  win cmd /c exit
  display=$(cat "$top/build/win32/wineprefix.state/xvfb.display" 2>/dev/null)
fi
run_setup splash
check "the screenshot shows the vendor's splash picture (gold band of $gold_pixels pixels)" test -e "$out/splash.png"
run_setup window KM_STANDIN_HOLD_MS=4000
check "the example setup program showed its window" grep -q '^Window=shown' "$out/window-report.txt"

"$wine_run" --shutdown
echo "  splash screenshot $out/splash.png"
echo "  setup window      $out/setup-window.png"
if [ "$failures" = 0 ]; then echo "kit trial: all checks passed"; else echo "kit trial: $failures checks FAILED"; fi
[ "$failures" = 0 ]
