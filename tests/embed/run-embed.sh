#!/bin/bash
# The Linux side of the embed end-to-end test, then the runs under Wine.
#   run-embed.sh WINE_RUN KMARC KMARC_EXE BARE_LAUNCHER BUILT_LAUNCHER ZEPHRUN LINGERX
#                PAYLOAD TESTS WORK
# Makes setups from the bare launcher with the Linux and the Windows kmarc, compares
# them with the product the build made (cmp) and their archives with its archives
# through independent readers (wrestool, objdump, windres), signs one with a throwaway certificate, and hands the files to
# TESTS (GoogleTest, under Wine) through KM_EMBED_* variables, with a setup that also
# carries a version resource and another icon. Set OSSLSIGNCODE to try
# another osslsigncode.
set -u
wine_run=$1 kmarc=$2 kmarc_exe=$3 bare=$4 built=$5 zephrun=$6 lingerx=$7 payload=$8 tests=$9 work=${10}
osslsigncode=${OSSLSIGNCODE:-osslsigncode}
archives="BASE SETUPBASE SETUPPHOTO PHOTOEDITION KMIMAGE KMVERSION APPBASE PHOTOUNINST"

passed=0 failed=0
check() {  # check DESCRIPTION COMMAND...: one case of this script
  local what=$1; shift
  if "$@" >"$work/check.log" 2>&1; then
    passed=$((passed + 1)); echo "[       OK ] embed: $what"
  else
    failed=$((failed + 1)); echo "[  FAILED  ] embed: $what"; sed 's/^/    /' "$work/check.log"
  fi
}
same_archives() {  # same_archives A B: every archive resource of A equals B's (wrestool)
  local name
  for name in $archives; do
    wrestool -x --raw --type=KMARC --name="$name" "$1" >"$work/a.bin" || return 1
    wrestool -x --raw --type=KMARC --name="$name" "$2" >"$work/b.bin" || return 1
    [ -s "$work/a.bin" ] || { echo "$1 has no $name"; return 1; }
    cmp "$work/a.bin" "$work/b.bin" || { echo "$name differs"; return 1; }
  done
}
other_resources_kept() {  # other_resources_kept BARE SETUP: every other resource, byte for byte
  local line count=0
  while read -r line; do
    local type name lang
    type=$(sed -n "s/^--type=\\([^ ]*\\) .*/\\1/p" <<<"$line")
    name=$(sed -n "s/.* --name=\\([^ ]*\\) .*/\\1/p" <<<"$line")
    lang=$(sed -n "s/.* --language=\\([^ ]*\\) .*/\\1/p" <<<"$line")
    wrestool -x --raw --type="$type" --name="$name" --language="$lang" "$1" >"$work/a.bin"
    wrestool -x --raw --type="$type" --name="$name" --language="$lang" "$2" >"$work/b.bin"
    cmp "$work/a.bin" "$work/b.bin" || { echo "$line differs"; return 1; }
    count=$((count + 1))
  done < <(wrestool -l "$1" | grep -v "^--type='KMARC'")
  [ "$count" -ge 4 ] || { echo "only $count resources in $1"; return 1; }
}
windres_reads() {  # windres_reads SETUP: binutils' resource reader takes the file whole
  i686-w64-mingw32-windres -i "$1" -O rc -o "$work/setup.rc" &&
    [ "$(grep -c '^"[A-Z]*" "KMARC"' "$work/setup.rc")" -eq 8 ] &&
    i686-w64-mingw32-objdump -p "$1" | grep -q 'Resource Directory \[.rsrc\]'
}
no_certificate() { i686-w64-mingw32-objdump -p "$1" | grep -Eq '^Entry 4 0+ 0+ '; }
win_path() { "$wine_run" winepath -w "$1" 2>/dev/null | tr -d '\r'; }

rm -rf "$work"
mkdir -p "$work"
# The payload as the build packs it: the demo tree, and the copies of the stand-ins it
# adds to SETUPBASE, with their time stamps (the archives store them).
cp -a "$payload" "$work/payload"
cp -p "$zephrun" "$lingerx" "$work/payload/SETUPBASE/"

check "Linux kmarc embeds the payload into the bare launcher" \
  "$kmarc" embed "$bare" "$work/payload" -o "$work/setup.exe"
check "a second embed gives the same bytes" \
  bash -c '"$1" embed "$2" "$3" -o "$4" && cmp "$4" "$5"' _ "$kmarc" "$bare" "$work/payload" "$work/setup2.exe" "$work/setup.exe"
check "Windows kmarc.exe gives the same bytes as the Linux kmarc" \
  bash -c '"$1" "$2" embed "$3" "$4" -o "$5" && cmp "$6" "$7"' _ "$wine_run" "$kmarc_exe" \
  "$(win_path "$bare")" "$(win_path "$work/payload")" "$(win_path "$work")\\setup-win.exe" \
  "$work/setup-win.exe" "$work/setup.exe"
check "the product the build made from the demo payload is byte for byte this setup (cmp)" \
  cmp "$work/setup.exe" "$built"
# A file of several 4 MiB chunks, of program bytes: the chunked encoder's joins.
mkdir -p "$work/large"
while [ "$(stat -c %s "$work/large/program.bin" 2>/dev/null || echo 0)" -lt $((17 << 20)) ]; do
  cat "$kmarc_exe" "$kmarc" "$bare" >>"$work/large/program.bin"
done
# A copy of it under another name: both tools store the one stream once.
cp "$work/large/program.bin" "$work/large/program copy.bin"
check "kmarc and kmarc.exe pack a file of two chunks and its copy to the same bytes, one stream, which inflates again" \
  bash -c '"$1" pack "$3/large.kma" "$3/large" && "$2" "$4" pack "$5\\large-win.kma" "$5\\large" &&
    cmp "$3/large.kma" "$3/large-win.kma" && "$1" verify "$3/large.kma" && "$1" extract "$3/large.kma" "$3/large-out" &&
    cmp "$3/large/program.bin" "$3/large-out/program.bin" && cmp "$3/large/program.bin" "$3/large-out/program copy.bin" &&
    "$1" list --json "$3/large.kma" | python3 -c "import json, sys
e = json.load(sys.stdin)[\"archives\"][0][\"entries\"]
sys.exit(not (len(e) == 2 and e[0][\"offset\"] == e[1][\"offset\"]))"' _ \
  "$kmarc" "$wine_run" "$work" "$kmarc_exe" "$(win_path "$work")"
check "archive resources byte-identical to the built launcher's (wrestool)" same_archives "$work/setup.exe" "$built"
check "every other resource kept byte for byte (wrestool)" other_resources_kept "$bare" "$work/setup.exe"
check "windres and objdump read the setup" windres_reads "$work/setup.exe"
check "kmarc verify checks all eight archives" \
  bash -c '"$1" verify "$2" >"$3" && [ "$(grep -c ", all sound" "$3")" -eq 8 ]' _ "$kmarc" "$work/setup.exe" "$work/verify.txt"

# Version resource and icon, read back by binutils and icoutils.
python3 - "$work/icon.ico" <<'PYTHON'
import struct, sys
# One 16-pixel true-colour image: a header of twice the height, the pixels, the mask.
pixels = b"".join(struct.pack("<BBBB", 40 + 12 * x, 200 - 10 * y, 90, 255) for y in range(16) for x in range(16))
image = struct.pack("<IiiHHIIiiII", 40, 16, 32, 1, 32, 0, len(pixels), 0, 0, 0, 0) + pixels + bytes(4 * 16)
with open(sys.argv[1], "wb") as out:
    out.write(struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 16, 16, 0, 0, 1, 32, len(image), 22) + image)
PYTHON
check "kmarc embed writes a version resource and an icon" \
  "$kmarc" embed --version-info "ProductName=Kalmora Photo" --version-info FileVersion=2.5.0.1 \
  --version-info ProductVersion=2.5 --version-info "CompanyName=Kalmora Software" \
  --version-info "FileDescription=Kalmora Photo Setup" --version-info "LegalCopyright=(c) 2026 Kalmora" \
  --icon "$work/icon.ico" "$bare" "$work/payload" -o "$work/versioned.exe"
check "windres reads the version resource back" bash -c '
  i686-w64-mingw32-windres -i "$1" -O rc -o "$2" && grep -q "FILEVERSION 2, 5, 0, 1" "$2" &&
  grep -q "PRODUCTVERSION 2, 5, 0, 0" "$2" && grep -q "VALUE \"ProductName\", \"Kalmora Photo\"" "$2" &&
  grep -q "VALUE \"LegalCopyright\", \"(c) 2026 Kalmora\"" "$2" &&
  grep -q "VALUE \"CompanyName\", \"Kalmora Software\"" "$2"' _ "$work/versioned.exe" "$work/versioned.rc"
check "icotool reads icon group 101 back as the icon given" bash -c '
  wrestool -x --type=14 --name=101 "$1" -o "$2" && [ "$(icotool -l "$2")" = "$(icotool -l "$3")" ] &&
  icotool -x -o "$2.png" "$2" && icotool -x -o "$3.png" "$3" && cmp "$2.png" "$3.png"' \
  _ "$work/versioned.exe" "$work/extracted.ico" "$work/icon.ico"

# Signing with a throwaway certificate.
check "osslsigncode signs the setup and verifies the signature" bash -c '
  openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=Embed Test Vendor" -days 2 \
    -keyout "$2/key.pem" -out "$2/cert.pem" &&
  "$1" sign -certs "$2/cert.pem" -key "$2/key.pem" -n "Embed Test Setup" -h sha256 \
    -in "$2/setup.exe" -out "$2/signed.exe" &&
  "$1" verify -in "$2/signed.exe" -CAfile "$2/cert.pem"' _ "$osslsigncode" "$work"
check "kmarc list and verify read the signed setup" \
  bash -c '"$1" list "$2" >/dev/null && "$1" verify "$2"' _ "$kmarc" "$work/signed.exe"
check "kmarc embed refuses the signed setup and writes nothing" bash -c '
  fails_with() { local c=$1; shift; "$@"; [ $? -eq "$c" ]; }
  fails_with 5 "$1" embed "$2" "$3" -o "$4" 2>"$4.err" && grep -q "sign after embedding" "$4.err" &&
  [ ! -e "$4" ] && [ ! -e "$4.part" ]' _ "$kmarc" "$work/signed.exe" "$work/payload" "$work/refused.exe"
check "--strip-signature: no certificate table, the unsigned setup's bytes" bash -c '
  "$1" embed --strip-signature "$2" "$3" -o "$4" && ! "$5" verify -in "$4" -CAfile "$6/cert.pem" &&
  cmp "$4" "$6/setup.exe"' _ "$kmarc" "$work/signed.exe" "$work/payload" "$work/stripped.exe" "$osslsigncode" "$work"
check "the stripped setup has no certificate directory" no_certificate "$work/stripped.exe"

# Counted with the GoogleTest cases in the summary of make test.
status=0
echo "[  PASSED  ] $passed tests (the Linux side of embed)."
if [ "$failed" -ne 0 ]; then
  echo "[  FAILED  ] $failed tests (the Linux side of embed)."
  status=1
fi

KM_EMBED_BUILT=$(win_path "$built") KM_EMBED_SETUP=$(win_path "$work/setup.exe") \
KM_EMBED_SIGNED=$(win_path "$work/signed.exe") KM_EMBED_STRIPPED=$(win_path "$work/stripped.exe") \
KM_EMBED_VERSIONED=$(win_path "$work/versioned.exe") \
  "$wine_run" "$tests" --gtest_color=no || status=1
exit $status
