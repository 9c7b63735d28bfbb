# Sourced by the test runners: a small tmpfs mapped as a drive letter of a Wine prefix,
# for runs that need a nearly full disk.
#   map_small_drive PREFIX TAG SIZE LETTER   0 when mapped; 1 with small_drive_reason set
#   unmap_small_drive                        undoes it (safe to call when nothing is mapped)
small_drive_mounted=no

map_small_drive() {
  small_drive_mount="$1.state/$2-small-drive"
  small_drive_link="$1/dosdevices/${4,,}:"  # Wine looks up drive links in lower case
  mkdir -p "$small_drive_mount"
  rm -f "$small_drive_link"
  # A run that was killed may have left its mount behind.
  umount "$small_drive_mount" 2>/dev/null
  local err
  if err=$(mount -t tmpfs -o "size=$3,mode=0777" "km-$2-small" "$small_drive_mount" 2>&1); then
    small_drive_mounted=yes
    ln -s "$small_drive_mount" "$small_drive_link"
    return 0
  fi
  small_drive_reason="cannot mount a $3 tmpfs for drive $4: (${err:-mount failed}); mounting needs root or CAP_SYS_ADMIN"
  small_drive_reason=$(echo "$small_drive_reason" | tr '\n' ' ')
  return 1
}

unmap_small_drive() {
  [ -n "${small_drive_link:-}" ] && rm -f "$small_drive_link"
  if [ "$small_drive_mounted" = yes ]; then
    umount "$small_drive_mount" 2>/dev/null || umount -l "$small_drive_mount" 2>/dev/null
    small_drive_mounted=no
  fi
}
