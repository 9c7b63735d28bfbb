#!/bin/bash
# Tests of the build's payload rule, run the way a vendor builds: scratch builds of one
# setup executable by that rule (tests/payload/project, cmake/SetupExecutable.cmake), from
# the launcher without a payload and payloads of their own.
#
#   payload-test.sh build SOURCE_DIR TREE WORK_DIR KMARC LAUNCHER
#     what kmarc refuses stops the build with its message; what each rebuild embeds
#     again; what the archives hold; the same setup from a build in another folder; no
#     source or build folder in TREE's launchers. Leaves WORK_DIR/one built for the next
#     command.
#   payload-test.sh install WORK_DIR WINE_RUN
#     runs that setup under Wine: the names as the launcher unpacks them and as the
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

# What a setup carries, as kmarc extracts it: one folder per archive.
unpack() { rm -rf "$2" && "$kmarc" extract "$1" "$2" >/dev/null; }
# Whether a build's output says it embedded the payload.
embedded() { grep -q 'Embedding the payload' <<<"$1"; }

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

# configure BUILD PAYLOAD [stand-ins]: a scratch build of one setup from PAYLOAD.
configure() {
  local stand_ins=
  [ "${3:-}" = stand-ins ] &&
    stand_ins="$tree/bin/Zephrun.exe;$src/demo/Zephrun.cpp;$tree/bin/lingerx.exe;$src/demo/lingerx.cpp"
  cmake -G Ninja -S "$src/tests/payload/project" -B "$1" -DKM_KMARC="$kmarc" -DKM_LAUNCHER="$launcher" \
    -DKM_PAYLOAD_DIR="$2" "-DKM_STAND_INS=$stand_ins" 2>&1
}
build() { cmake --build "$1" 2>&1; }
# refused NAME PAYLOAD MESSAGE...: a build of PAYLOAD fails with kmarc's message, which
# holds every MESSAGE.
refused() {
  local name=$1 payload=$2; shift 2
  local out code part ok=yes
  out=$(configure "$work/config" "$payload" && build "$work/config") && code=0 || code=$?
  { [ $code -ne 0 ] && grep -q '^kmarc: ' <<<"$out"; } || ok=no
  for part in "$@"; do contains "$out" "$part" || ok=no; done
  if [ $ok = yes ]; then pass "$name"; else fail "$name" "$out"; fi
}

# --- build -------------------------------------------------------------------------
run_build() {
  rm -rf "$work"
  mkdir -p "$work"
  local out code

  # kmarc checks the payload folder; its refusal is the build's message.
  refused "build: a missing payload folder fails, naming it and the eight archives" "$work/no such payload" \
    "$work/no such payload does not exist" \
    "BASE, SETUPBASE, SETUPPHOTO, PHOTOEDITION, KMIMAGE, KMVERSION, APPBASE, PHOTOUNINST"
  # 'BASE;APPBASE' is one folder, whatever a list in the build rules would make of it.
  local wrong
  for wrong in Base APPBASE_ 'KMIMAGE "x"' 'BASE;APPBASE'; do
    write_payload "$work/wrong"
    mkdir -p "$work/wrong/$wrong"
    refused "build: a folder '$wrong' fails, naming it and the eight archives" "$work/wrong" \
      "holds '$wrong', which is not an archive folder" "named exactly BASE, SETUPBASE"
  done
  # An archive folder that is a link falls under kmarc's rule for folder links.
  write_payload "$work/wrong"
  mv "$work/wrong/KMVERSION" "$work/elsewhere"
  ln -s "$work/elsewhere" "$work/wrong/KMVERSION"
  refused "build: an archive folder that is a link fails, naming it" "$work/wrong" \
    "$work/wrong/KMVERSION is a symbolic link"
  rm -rf "$work/elsewhere"

  # A vendor's SETUPBASE must bring the setup program and the waiting program.
  write_payload "$work/vendor"
  refused "build: SETUPBASE without Zephrun.exe fails" "$work/vendor" "no Zephrun.exe in $work/vendor/SETUPBASE"
  printf 'MZ' >"$work/vendor/SETUPBASE/ZEPHRUN.EXE"
  refused "build: a setup program without lingerx.exe fails too" "$work/vendor" \
    "no lingerx.exe in $work/vendor/SETUPBASE"
  # The programs count wherever the launcher unpacks them, in any case.
  printf 'MZ' >"$work/vendor/BASE/LingerX.exe"
  out=$(configure "$work/config" "$work/vendor" && build "$work/config") && code=0 || code=$?
  if [ $code -eq 0 ] && unpack "$work/config/bin/ZIZeduz.exe" "$work/x" && [ -e "$work/x/BASE/LingerX.exe" ] \
     && [ "$(ls "$work/x/SETUPBASE" | tr '\n' ' ')" = "Data ZEPHRUN.EXE Zephrun.ini " ]; then
    pass "build: the vendor's own programs, and no stand-ins"
  else fail "build: the vendor's own programs, and no stand-ins" "$out"; fi
  rm -rf "$work/config"

  # The build the rest works with: stand-ins asked for, names Windows allows but build
  # rules do not, a link inside the folder.
  local one=$work/one payload=$work/payload
  write_payload "$payload"
  out=$(configure "$one" "$payload" stand-ins && build "$one") && code=0 || code=$?
  if [ $code -ne 0 ]; then
    fail "build: a payload with ';', blanks, non-ASCII names and a link builds" "$out"
    finish
  fi
  pass "build: a payload with ';', blanks, non-ASCII names and a link builds"
  local setup=$one/bin/ZIZeduz.exe x=$work/x
  unpack "$setup" "$x"
  check "archives: the setup carries BASE, SETUPBASE, KMVERSION and APPBASE, no others" \
    test "$(ls "$x" | tr '\n' ' ')" = "APPBASE BASE KMVERSION SETUPBASE "
  check "archives: BASE holds exactly the tree, the link as the file it names" diff -r "$x/BASE" "$payload/BASE"
  # The archive stores names in code page 1252; the setup carries it as it is.
  check "archives: the non-ASCII name is stored in code page 1252" \
    env LC_ALL=C grep -qa "Dokumente\\\\$(printf '\xdc')bersicht.txt" "$setup"
  check "archives: SETUPBASE holds the payload's files and the two stand-ins" \
    test "$(cd "$x/SETUPBASE" && find . -type f | LC_ALL=C sort | tr '\n' ' ')" = \
         "./Data/Wizard.dat ./Zephrun.exe ./Zephrun.ini ./lingerx.exe "
  check "archives: the stand-ins are the built programs" cmp "$x/SETUPBASE/Zephrun.exe" "$tree/bin/Zephrun.exe"

  # Each change to the payload embeds it again, names that a Ninja depfile cannot spell
  # ("Notes; draft.txt" in BASE) included; nothing else does.
  out=$(build "$one")
  if ! embedded "$out" && contains "$out" "ninja: no work to do"; then
    pass "rebuild: nothing changed, nothing done"
  else fail "rebuild: nothing changed, nothing done" "$out"; fi
  # rebuilt NAME TEST...: after a change, the build embeds again and TEST holds.
  rebuilt() {
    local name=$1; shift
    out=$(build "$one")
    if embedded "$out" && unpack "$setup" "$x" && "$@"; then pass "$name"; else fail "$name" "$out"; fi
  }
  rm "$payload/APPBASE/Dokumente/Alt/Alt.txt"
  rebuilt "rebuild: a deleted file is gone from its archive" test ! -e "$x/APPBASE/Dokumente/Alt/Alt.txt"
  printf 'neu\r\n' >"$payload/APPBASE/Dokumente/Alt/Neu.txt"
  rebuilt "rebuild: an added file is packed" test -e "$x/APPBASE/Dokumente/Alt/Neu.txt"
  mv "$payload/APPBASE/Dokumente/Alt/Neu.txt" "$payload/APPBASE/Dokumente/Alt/Neu & mehr.txt"
  rebuilt "rebuild: a renamed file is packed under its new name only" \
    test -e "$x/APPBASE/Dokumente/Alt/Neu & mehr.txt" -a ! -e "$x/APPBASE/Dokumente/Alt/Neu.txt"
  printf 'mehr\r\n' >>"$payload/APPBASE/Dokumente/Alt/Neu & mehr.txt"
  rebuilt "rebuild: a change to a file named with '&' embeds again" \
    cmp -s "$x/APPBASE/Dokumente/Alt/Neu & mehr.txt" "$payload/APPBASE/Dokumente/Alt/Neu & mehr.txt"
  rm "$payload/APPBASE/Dokumente/Alt/Neu & mehr.txt"
  rebuilt "rebuild: a file named with '&' that is deleted is gone" test ! -e "$x/APPBASE/Dokumente/Alt/Neu & mehr.txt"
  printf 'changed\r\n' >>"$payload/BASE/Notes; draft.txt"
  rebuilt "rebuild: a change to a file named with ';' embeds again" \
    cmp -s "$x/BASE/Notes; draft.txt" "$payload/BASE/Notes; draft.txt"
  printf '[Setup]\r\nChanged=1\r\n' >"$payload/SETUPBASE/Zephrun.ini"
  rebuilt "rebuild: a changed file is packed with its new contents" \
    cmp -s "$x/SETUPBASE/Zephrun.ini" "$payload/SETUPBASE/Zephrun.ini"
  rm -rf "$payload/KMVERSION"
  rebuilt "rebuild: a removed archive folder is no longer carried" test ! -e "$x/KMVERSION"
  mkdir -p "$payload/Base"
  out=$(build "$one") && code=0 || code=$?
  if [ $code -ne 0 ] && contains "$out" "holds 'Base', which is not an archive folder"; then
    pass "rebuild: a misspelled folder added later fails the build with kmarc's message"
  else fail "rebuild: a misspelled folder added later fails the build with kmarc's message" "$out"; fi
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
    if [ $code -ne 0 ] && grep -q "BASE/Dokumente/$name.*$message" <<<"$out" && grep -q '^kmarc: ' <<<"$out" \
       && ! contains "$out" "CMake Error"; then
      pass "build: '$name' stops the build with kmarc's message"
    else fail "build: '$name' stops the build with kmarc's message" "$out"; fi
    rm -f "$payload/BASE/Dokumente/$name"
  done <<'NAMES'
say "hi".txt|"
日本語.txt|code page
dangling|to nothing
outside|outside
NAMES
  out=$(build "$one") && code=0 || code=$?
  check "build: the tree builds again once those files are gone" test $code -eq 0

  # Same payload, another folder: the same bytes.
  mkdir -p "$payload/KMVERSION"
  printf '1.0\r\n' >"$payload/KMVERSION/Version.txt"
  build "$one" >/dev/null
  local two="$work/second build with a longer name/b"
  out=$(configure "$two" "$payload" stand-ins && build "$two") && code=0 || code=$?
  if [ $code -eq 0 ] && cmp "$one/bin/ZIZeduz.exe" "$two/bin/ZIZeduz.exe"; then
    pass "reproducible: two builds in different folders give the same ZIZeduz.exe (cmp)"
  else fail "reproducible: two builds in different folders give the same ZIZeduz.exe (cmp)" "$out"; fi
  # The launchers are compiled so that no folder of the build is named in them.
  local leaks
  leaks=$(strings -a "$launcher" "$tree/bin/ZIZeduz.exe" "$one/bin/ZIZeduz.exe" |
          grep -e "$tree" -e "$src" -e "$work" | head -n 5)
  check "reproducible: no source or build folder in the launchers" test -z "$leaks"
  rm -rf "$work/second build with a longer name" "$x" "$work/wrong" "$work/vendor"
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
  cp "$one/setup-stand-ins/Zephrun.exe" "$one/setup-stand-ins/lingerx.exe" "$expected/"
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
    src=$2; tree=$3; work=$4; kmarc=$5; launcher=$6
    run_build ;;
  install)
    work=$2; wine_run=$3
    kmarc=
    run_install ;;
  *)
    echo "usage: payload-test.sh build SOURCE_DIR TREE WORK_DIR KMARC LAUNCHER | install WORK_DIR WINE_RUN" >&2
    exit 2 ;;
esac
