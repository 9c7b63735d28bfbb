#!/bin/bash
# Tests of the payload build, run the way a vendor builds: scratch trees of this project
# configured with payloads of their own.
#
#   payload-test.sh build SOURCE_DIR WORK_DIR KMARC
#     the configure step's checks of the payload folder; what each rebuild repacks; what
#     the archives hold; refusals that stop the build; two trees in different folders
#     that must give the same launcher. Leaves WORK_DIR/one built for the next command.
#   payload-test.sh install WORK_DIR WINE_RUN
#     runs that launcher under Wine: the names as the launcher unpacks them and as the
#     setup program installs them.
#
# Prints one line per check and a count in the form the test summary adds up.
set -u

passed=0
failed=0
failures=()
pass() { passed=$((passed + 1)); echo "ok     $1"; }
fail() {
  failed=$((failed + 1)); failures+=("$1"); echo "FAILED $1"
  [ -n "${2:-}" ] && printf '%s\n' "$2" | sed 's/^/       | /' | head -n 30
  return 0
}
# check NAME COMMAND...: the command's success is the check's.
check() { local name=$1; shift; if "$@"; then pass "$name"; else fail "$name"; fi; }
finish() {
  echo "[  PASSED  ] $passed tests."
  if [ "$failed" -gt 0 ]; then
    echo "[  FAILED  ] $failed tests, listed below:"
    printf '[  FAILED  ] %s\n' "${failures[@]}"
    exit 1
  fi
  exit 0
}
# Whether text holds needle, with line breaks and runs of blanks taken as one blank
# (CMake wraps its messages).
contains() { grep -qF -- "$(flat "$2")" <<<"$(flat "$1")"; }
flat() { printf '%s' "$1" | tr '\n' ' ' | tr -s ' '; }

# Names as kmarc lists them, one per line.
entries() { "$kmarc" list "$1" | sed -E 's/^ *[0-9]+ +[0-9]+  //'; }
# The archives a build's output says it packed, in name order.
packed() { grep -oE 'Packing the [A-Z]+ archive' <<<"$1" | awk '{print $3}' | sort | tr '\n' ' '; }

write_payload() {
  local p=$1
  rm -rf "$p"
  mkdir -p "$p/BASE/Dokumente" "$p/BASE/With blank" "$p/SETUPBASE/Data" "$p/KMVERSION" \
           "$p/APPBASE/Dokumente/Alt"
  printf 'Readme\r\n' >"$p/BASE/Readme.txt"
  printf 'Übersicht\r\n' >"$p/BASE/Dokumente/Übersicht.txt"
  printf 'draft\r\n' >"$p/BASE/Notes; draft.txt"
  printf 'blank\r\n' >"$p/BASE/With blank/a b.txt"
  ln -s ../Readme.txt "$p/BASE/Dokumente/Readme link.txt"
  printf '[Setup]\r\n' >"$p/SETUPBASE/Zephrun.ini"
  head -c 40000 /dev/urandom >"$p/SETUPBASE/Data/Wizard.dat"
  printf '1.0\r\n' >"$p/KMVERSION/Version.txt"
  printf 'Übersicht der Anwendung\r\n' >"$p/APPBASE/Dokumente/Übersicht.txt"
  printf 'old\r\n' >"$p/APPBASE/Dokumente/Alt/Alt.txt"
  head -c 200000 /dev/urandom >"$p/APPBASE/Programm.dat"
}

configure() {
  local tree=$1 payload=$2; shift 2
  cmake -G Ninja -S "$src" -B "$tree" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/toolchain-i686-mingw.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DKM_NATIVE_KMARC="$kmarc" -DKM_PAYLOAD_DIR="$payload" "$@" 2>&1
}
build() { cmake --build "$1" --target ZIZeduz -j 2 2>&1; }

# --- build -------------------------------------------------------------------------
run_build() {
  rm -rf "$work"
  mkdir -p "$work"
  local config=$work/config out code

  # The configure step refuses a payload folder that is missing or misspelled, before
  # anything is built; one tree serves all of these.
  out=$(configure "$config" "$work/no such payload") && code=0 || code=$?
  if [ $code -ne 0 ] && contains "$out" "KM_PAYLOAD_DIR: $work/no such payload does not exist" \
     && contains "$out" "BASE, SETUPBASE, SETUPPHOTO, PHOTOEDITION, KMIMAGE, KMVERSION, APPBASE, PHOTOUNINST"; then
    pass "configure: a missing payload folder fails, naming it and the eight archives"
  else fail "configure: a missing payload folder fails, naming it and the eight archives" "$out"; fi

  for wrong in Base APPBASE_ 'KMIMAGE "x"'; do
    write_payload "$work/wrong"
    mkdir -p "$work/wrong/$wrong"
    out=$(configure "$config" "$work/wrong") && code=0 || code=$?
    if [ $code -ne 0 ] && contains "$out" "holds '$wrong', which is not an archive folder" \
       && contains "$out" "named exactly BASE, SETUPBASE"; then
      pass "configure: a folder '$wrong' fails, naming it and the eight archives"
    else fail "configure: a folder '$wrong' fails, naming it and the eight archives" "$out"; fi
  done

  # An archive folder that is a link falls under kmarc's rule for folder links.
  write_payload "$work/wrong"
  mv "$work/wrong/KMVERSION" "$work/elsewhere"
  ln -s "$work/elsewhere" "$work/wrong/KMVERSION"
  out=$(configure "$config" "$work/wrong") && code=0 || code=$?
  if [ $code -ne 0 ] && contains "$out" "$work/wrong/KMVERSION is a symbolic link"; then
    pass "configure: an archive folder that is a link fails, naming it"
  else fail "configure: an archive folder that is a link fails, naming it" "$out"; fi
  rm -rf "$work/elsewhere"

  # A vendor's SETUPBASE must bring the setup program and the waiting program.
  write_payload "$work/vendor"
  out=$(configure "$config" "$work/vendor") && code=0 || code=$?
  if [ $code -ne 0 ] && contains "$out" "no Zephrun.exe in $work/vendor/SETUPBASE" && contains "$out" "KM_STAND_INS=ON"; then
    pass "configure: SETUPBASE without Zephrun.exe fails and names the stand-in option"
  else fail "configure: SETUPBASE without Zephrun.exe fails and names the stand-in option" "$out"; fi
  printf 'MZ' >"$work/vendor/SETUPBASE/ZEPHRUN.EXE"
  out=$(configure "$config" "$work/vendor") && code=0 || code=$?
  if [ $code -ne 0 ] && contains "$out" "no lingerx.exe in $work/vendor/SETUPBASE"; then
    pass "configure: a setup program without lingerx.exe fails too"
  else fail "configure: a setup program without lingerx.exe fails too" "$out"; fi
  # The programs count wherever the launcher unpacks them, in any case.
  printf 'MZ' >"$work/vendor/BASE/LingerX.exe"
  out=$(configure "$config" "$work/vendor") && code=0 || code=$?
  if [ $code -eq 0 ] && ! contains "$out" "STAND-INS" \
     && contains "$out" "archives it does not carry (no folder): SETUPPHOTO PHOTOEDITION KMIMAGE PHOTOUNINST"; then
    pass "configure: the vendor's own programs take no stand-ins; absent archives are listed"
  else fail "configure: the vendor's own programs take no stand-ins; absent archives are listed" "$out"; fi
  rm -rf "$config"

  # The tree the rest works with: stand-ins asked for, names Windows allows but build
  # rules do not, a link inside the folder.
  local one=$work/one payload=$work/payload
  write_payload "$payload"
  out=$(configure "$one" "$payload" -DKM_STAND_INS=ON) && code=0 || code=$?
  if [ $code -eq 0 ] && contains "$out" "archives the launcher carries: BASE SETUPBASE KMVERSION APPBASE" \
     && contains "$out" "STAND-INS: the project's Zephrun.exe and lingerx.exe go into SETUPBASE (KM_STAND_INS is ON)"; then
    pass "configure: the archives carried and the stand-ins are announced"
  else fail "configure: the archives carried and the stand-ins are announced" "$out"; fi
  out=$(build "$one") && code=0 || code=$?
  if [ $code -ne 0 ]; then
    fail "build: a payload with ';', blanks, non-ASCII names and a link builds" "$out"
    finish
  fi
  pass "build: a payload with ';', blanks, non-ASCII names and a link builds"
  local archives=$one/resources/archives
  check "archives: BASE holds exactly the tree" test "$(entries "$archives/base.kmarc")" = \
    "$(printf '%s\n' 'Dokumente\Readme link.txt' 'Dokumente\Übersicht.txt' 'Notes; draft.txt' 'Readme.txt' 'With blank\a b.txt')"
  # kmarc list shows the names in the host's encoding; the archive holds code page 1252.
  check "archives: the non-ASCII name is stored in code page 1252" \
    env LC_ALL=C grep -qa "Dokumente\\\\$(printf '\xdc')bersicht.txt" "$archives/base.kmarc"
  check "archives: the link is packed as the file it names" \
    cmp -s <("$kmarc" extract "$archives/base.kmarc" "$work/x" >/dev/null && cat "$work/x/Dokumente/Readme link.txt") "$payload/BASE/Readme.txt"
  check "archives: SETUPBASE holds the payload's files and the two stand-ins" \
    test "$(entries "$archives/setupbase.kmarc")" = "$(printf '%s\n' 'Data\Wizard.dat' Zephrun.exe Zephrun.ini lingerx.exe)"
  check "archives: no archive for a folder that is not there" \
    test ! -e "$archives/kmimage.kmarc" -a ! -e "$archives/photouninst.kmarc"

  # Each change repacks its own archive and no other, names that a Ninja depfile cannot
  # spell ("Notes; draft.txt" in BASE) included.
  out=$(build "$one")
  if [ -z "$(packed "$out")" ] && contains "$out" "ninja: no work to do"; then
    pass "rebuild: nothing changed, nothing done"
  else fail "rebuild: nothing changed, nothing done" "$out"; fi

  rm "$payload/APPBASE/Dokumente/Alt/Alt.txt"
  out=$(build "$one")
  if [ "$(packed "$out")" = "APPBASE " ] && ! entries "$archives/appbase.kmarc" | grep -q 'Alt.txt'; then
    pass "rebuild: a deleted file is gone from its archive, and only that one is repacked"
  else fail "rebuild: a deleted file is gone from its archive, and only that one is repacked" "$out"; fi

  printf 'neu\r\n' >"$payload/APPBASE/Dokumente/Alt/Neu.txt"
  out=$(build "$one")
  if [ "$(packed "$out")" = "APPBASE " ] && entries "$archives/appbase.kmarc" | grep -qxF 'Dokumente\Alt\Neu.txt'; then
    pass "rebuild: an added file is packed"
  else fail "rebuild: an added file is packed" "$out"; fi

  mv "$payload/APPBASE/Dokumente/Alt/Neu.txt" "$payload/APPBASE/Dokumente/Alt/Neu & mehr.txt"
  out=$(build "$one")
  local names
  names=$(entries "$archives/appbase.kmarc")
  if [ "$(packed "$out")" = "APPBASE " ] && grep -qxF 'Dokumente\Alt\Neu & mehr.txt' <<<"$names" \
     && ! grep -qxF 'Dokumente\Alt\Neu.txt' <<<"$names"; then
    pass "rebuild: a renamed file is packed under its new name only"
  else fail "rebuild: a renamed file is packed under its new name only" "$out"; fi
  printf 'mehr\r\n' >>"$payload/APPBASE/Dokumente/Alt/Neu & mehr.txt"
  out=$(build "$one")
  if [ "$(packed "$out")" = "APPBASE " ]; then
    pass "rebuild: a change to a file named with '&' repacks its archive"
  else fail "rebuild: a change to a file named with '&' repacks its archive" "$out"; fi
  rm "$payload/APPBASE/Dokumente/Alt/Neu & mehr.txt"
  out=$(build "$one")
  if [ "$(packed "$out")" = "APPBASE " ] && ! entries "$archives/appbase.kmarc" | grep -q 'Neu'; then
    pass "rebuild: a file named with '&' that is deleted is gone"
  else fail "rebuild: a file named with '&' that is deleted is gone" "$out"; fi

  printf '[Setup]\r\nChanged=1\r\n' >"$payload/SETUPBASE/Zephrun.ini"
  out=$(build "$one")
  if [ "$(packed "$out")" = "SETUPBASE " ] \
     && cmp -s <("$kmarc" extract "$archives/setupbase.kmarc" "$work/y" >/dev/null && cat "$work/y/Zephrun.ini") "$payload/SETUPBASE/Zephrun.ini"; then
    pass "rebuild: a changed file is repacked with its new contents"
  else fail "rebuild: a changed file is repacked with its new contents" "$out"; fi

  # A change at the top of an unpacked folder configures again: removing the folder the
  # stand-ins go into is seen, and an archive that went away is no longer carried.
  rm -rf "$payload/KMVERSION"
  out=$(build "$one") && code=0 || code=$?
  if [ $code -eq 0 ] && contains "$out" "archives the launcher carries: BASE SETUPBASE APPBASE" \
     && ! grep -q KMVERSION "$one/resources/archives.rc"; then
    pass "rebuild: a removed archive folder configures again and the archive is dropped"
  else fail "rebuild: a removed archive folder configures again and the archive is dropped" "$out"; fi
  mkdir -p "$work/Base"
  mv "$work/Base" "$payload/Base"
  out=$(build "$one") && code=0 || code=$?
  if [ $code -ne 0 ] && contains "$out" "holds 'Base', which is not an archive folder"; then
    pass "rebuild: a misspelled folder added later fails the build with the configure message"
  else fail "rebuild: a misspelled folder added later fails the build with the configure message" "$out"; fi
  rm -rf "$payload/Base"

  # What kmarc refuses stops the build with kmarc's message naming the file; the build
  # goes on once the file is gone. No name ever reaches CMake.
  local name message
  while IFS='|' read -r name message; do
    case $name in
      dangling) ln -s "Nichts da.txt" "$payload/BASE/Dokumente/$name" ;;
      outside) ln -s /etc/passwd "$payload/BASE/Dokumente/$name" ;;
      *) printf 'x' >"$payload/BASE/Dokumente/$name" ;;
    esac
    out=$(build "$one") && code=0 || code=$?
    if [ $code -ne 0 ] && grep -q "^kmarc: .*BASE/Dokumente/$name.*$message" <<<"$out" \
       && ! contains "$out" "CMake Error"; then
      pass "build: '$name' stops the build with kmarc's message"
    else fail "build: '$name' stops the build with kmarc's message" "$out"; fi
    rm -f "$payload/BASE/Dokumente/$name"
  done <<'EOF'
say "hi".txt|"
日本語.txt|code page
dangling|to nothing
outside|outside
EOF
  out=$(build "$one") && code=0 || code=$?
  check "build: the tree builds again once those files are gone" test $code -eq 0

  # Same payload, same sources, another folder: the same bytes.
  printf '1.0\r\n' >"$work/Version.txt"
  mkdir -p "$payload/KMVERSION"
  mv "$work/Version.txt" "$payload/KMVERSION/"
  build "$one" >/dev/null
  local two="$work/second tree with a longer name/b"
  out=$(configure "$two" "$payload" -DKM_STAND_INS=ON && build "$two") && code=0 || code=$?
  if [ $code -eq 0 ] && cmp "$one/bin/ZIZeduz.exe" "$two/bin/ZIZeduz.exe"; then
    pass "reproducible: two trees in different folders give the same ZIZeduz.exe (cmp)"
  else fail "reproducible: two trees in different folders give the same ZIZeduz.exe (cmp)" "$out"; fi
  local leaks
  leaks=$(strings -a "$one/bin/ZIZeduz.exe" "$two/bin/ZIZeduz.exe" | grep -e "$work" -e "$src" -e "second tree" | head -n 5)
  check "reproducible: no source or build folder in the executable" test -z "$leaks"
  rm -rf "$work/second tree with a longer name" "$work/x" "$work/y" "$work/wrong" "$work/vendor"
  finish
}

# --- install ------------------------------------------------------------------------
# Runs the launcher and sets code to its exit code. A launcher that has not ended after
# two minutes is waiting for someone to answer a message box: it is ended, code 124.
launcher_wait_seconds=120
run_launcher() {
  timeout -k 10 "$launcher_wait_seconds" "$wine_run" "$work/one/bin/ZIZeduz.exe" >/dev/null 2>&1
  code=$?
  if [ $code -eq 124 ] || [ $code -eq 137 ]; then
    "$wine_run" taskkill /F /IM ZIZeduz.exe >/dev/null 2>&1
    code=124
  fi
}

# The value of a key of the stand-in's report, CR removed.
report_value() { grep -a "^$1=" "$2" | head -n1 | cut -d= -f2- | tr -d '\r'; }

run_install() {
  local one=$work/one payload=$work/payload
  [ -x "$one/bin/ZIZeduz.exe" ] || { fail "install: the launcher of the build test is there"; finish; }
  # Wine takes the ANSI code page from the locale (1252 for this one) and writes file
  # names in the locale's character set, so it must be UTF-8 and present on the host.
  export LC_ALL=C.UTF-8
  win() { "$wine_run" "$@" 2>/dev/null | tr -d '\r'; }
  local report=$work/report.txt install=$work/installed
  rm -rf "$report" "$install"
  mkdir -p "$install"
  local report_win install_win
  report_win=$(win winepath -w "$report")
  install_win=$(win winepath -w "$install")

  # First run: the setup program only reports, so the unpacked folder stays to be read.
  local code i
  KM_STANDIN_REPORT=$report_win KM_STANDIN_EXIT_AT_ONCE=1 run_launcher
  # The launcher may end before the setup program has written its report.
  for i in $(seq 1 300); do [ -e "$report" ] && break; sleep 0.1; done
  local setup_win script_win setup script
  setup_win=$(report_value CurrentDirectory "$report" 2>/dev/null)
  script_win=$(report_value CleanUp "$report" 2>/dev/null)
  if [ $code -ne 0 ] || [ -z "$setup_win" ]; then
    fail "install: the launcher unpacks and starts the setup program (exit $code; 124: it waited with a message box)" \
      "$(cat "$report" 2>/dev/null)"
    finish
  fi
  setup=$(win winepath -u "$setup_win"); setup=${setup%/}
  script=$(win winepath -u "$script_win")
  # The name as Windows wrote it through the ANSI calls, as the host sees it: UTF-8.
  check "install: Dokumente/Übersicht.txt is unpacked under exactly that name" \
    test "$(cd "$setup/Dokumente" 2>/dev/null && ls | grep -a bersicht | od -An -tx1 | tr -d ' \n')" \
         = "$(printf 'Übersicht.txt\n' | od -An -tx1 | tr -d ' \n')"
  # Everything of the six archives, nothing more: the payload's folders merged, and the
  # stand-ins.
  local expected=$work/expected
  rm -rf "$expected"; mkdir -p "$expected"
  cp -rL "$payload/BASE/." "$payload/SETUPBASE/." "$payload/KMVERSION/." "$expected/"
  cp "$one/bin/Zephrun.exe" "$one/bin/lingerx.exe" "$expected/"
  local diffs
  diffs=$(diff -r "$expected" "$setup" 2>&1)
  check "install: the setup folder holds exactly the payload's files, byte for byte" test -z "$diffs"
  [ -n "$diffs" ] && echo "$diffs" | head -n 10
  rm -rf "$setup" "$script" "$expected" "$report"

  # Second run, all the way: the setup program installs APPBASE and runs the cleanup.
  KM_STANDIN_REPORT=$report_win KM_STANDIN_INSTALL_DIR=$install_win run_launcher
  local i
  for i in $(seq 1 300); do [ -e "$report" ] && break; sleep 0.1; done
  script=$(win winepath -u "$(report_value CleanUp "$report" 2>/dev/null)")
  for i in $(seq 1 300); do [ -e "$script" ] || break; sleep 0.1; done
  check "install: the setup program installed APPBASE (exit $code, setup exit $(report_value ExitCode "$report"))" \
    test $code -eq 0 -a "$(report_value ExitCode "$report")" = 0
  check "install: APPBASE's Dokumente/Übersicht.txt is installed under exactly that name, with its bytes" \
    cmp -s "$install/Dokumente/Übersicht.txt" "$payload/APPBASE/Dokumente/Übersicht.txt"
  # The setup program reports the path as it passed it to Windows: code page 1252.
  check "install: the setup program wrote the name in code page 1252" \
    env LC_ALL=C grep -qa "^Installed=.*\\\\Dokumente\\\\$(printf '\xdc')bersicht.txt" "$report"
  setup_win=$(report_value CurrentDirectory "$report")
  setup=$(win winepath -u "$setup_win")
  check "install: the cleanup removed the setup folder and the script" \
    test -n "$setup_win" -a -n "$script" -a ! -e "$setup" -a ! -e "$script"
  rm -rf "$install" "$report"
  finish
}

case ${1:-} in
  build)
    src=$2; work=$3; kmarc=$4
    run_build ;;
  install)
    work=$2; wine_run=$3
    kmarc=
    run_install ;;
  *)
    echo "usage: payload-test.sh build SOURCE_DIR WORK_DIR KMARC | install WORK_DIR WINE_RUN" >&2
    exit 2 ;;
esac
