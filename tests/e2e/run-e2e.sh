#!/bin/bash
# Runs the launcher's end-to-end tests under Wine.
#   run-e2e.sh WINE_RUN WINEPREFIX E2E_TESTS
# Maps a 5 MiB tmpfs as drive K: for the low-disk-space test (or says why it cannot),
# runs every test in English, then the language-dependent ones with the user language
# set to German, French, Italian (Switzerland) and Spanish through the locale Wine gets.
set -u
wine_run=$1
prefix=$2
tests=$3

"$wine_run" --version >/dev/null 2>&1 || { echo "e2e: cannot start Wine" >&2; exit 1; }

small_mount="$prefix.state/e2e-small-drive"
small_link="$prefix/dosdevices/k:"
mounted=no
cleanup() {
  rm -f "$small_link"
  if [ "$mounted" = yes ]; then
    umount "$small_mount" 2>/dev/null || umount -l "$small_mount" 2>/dev/null
  fi
}
trap cleanup EXIT

mkdir -p "$small_mount"
rm -f "$small_link"
# A run that was killed may have left its mount behind.
umount "$small_mount" 2>/dev/null
if mount -t tmpfs -o size=5m,mode=0777 km-e2e-small "$small_mount" 2>/tmp/km-e2e-mount.$$; then
  mounted=yes
  ln -s "$small_mount" "$small_link"
  export KM_E2E_SMALL_DRIVE=K:
else
  reason=$(tr '\n' ' ' </tmp/km-e2e-mount.$$)
  export KM_E2E_NO_SMALL_DRIVE="cannot mount a 5 MiB tmpfs for drive K: (${reason:-mount failed}); mounting needs root or CAP_SYS_ADMIN"
  echo "e2e: $KM_E2E_NO_SMALL_DRIVE" >&2
fi
rm -f /tmp/km-e2e-mount.$$

# Wine takes the user language from LC_ALL even when the host lacks that locale; the
# shell's complaint about the missing locale is only noise.
quiet_locale() { grep -v 'setlocale: LC_ALL: cannot change locale' >&2; }

status=0
echo "== e2e: user language English (en_US) =="
LC_ALL=en_US.UTF-8 KM_E2E_LANGUAGE=en "$wine_run" "$tests" --gtest_color=no 2> >(quiet_locale) || status=1
for locale in de_DE:de fr_FR:fr it_CH:it es_ES:es; do
  echo "== e2e: user language ${locale%%:*} =="
  LC_ALL=${locale%%:*}.UTF-8 KM_E2E_LANGUAGE=${locale##*:} \
    "$wine_run" "$tests" --gtest_color=no --gtest_filter='UserLanguage.*' 2> >(quiet_locale) || status=1
done
exit $status
