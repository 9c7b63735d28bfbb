#!/bin/bash
# Runs the launcher's end-to-end tests under Wine.
#   run-e2e.sh WINE_RUN WINEPREFIX E2E_TESTS
# Maps a 5 MiB tmpfs as drive K: for the low-disk-space test and one of exactly 10 MiB as
# drive J: for the threshold test (or says why it cannot),
# runs every test in English, then the language-dependent ones with the user language
# set to German, French, Italian (Switzerland) and Spanish through the locale Wine gets.
set -u
wine_run=$1
prefix=$2
tests=$3

"$wine_run" --version >/dev/null 2>&1 || { echo "e2e: cannot start Wine" >&2; exit 1; }

. "$(dirname "$0")/small-drive.sh"
trap unmap_small_drive EXIT
if map_small_drive "$prefix" e2e 5m K; then
  export KM_E2E_SMALL_DRIVE=K:
else
  export KM_E2E_NO_SMALL_DRIVE="$small_drive_reason"
  echo "e2e: $KM_E2E_NO_SMALL_DRIVE" >&2
fi
# Exactly the 10 MiB the launcher asks for while it is empty.
if map_small_drive "$prefix" e2e-10m 10m J; then
  export KM_E2E_TEN_MIB_DRIVE=J:
else
  export KM_E2E_NO_TEN_MIB_DRIVE="$small_drive_reason"
  echo "e2e: $KM_E2E_NO_TEN_MIB_DRIVE" >&2
fi

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
