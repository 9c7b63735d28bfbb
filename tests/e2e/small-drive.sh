# Sourced by the test runners: small tmpfs drives mapped as drive letters of a Wine
# prefix, for runs that need a nearly full or an exactly sized disk.
#   map_small_drive PREFIX TAG SIZE LETTER   0 when mapped; 1 with small_drive_reason set
#   unmap_small_drive                        undoes every mapping (safe when nothing is mapped)
small_drive_mounts=()
small_drive_links=()

map_small_drive() {
  local mount="$1.state/$2-small-drive"
  local link="$1/dosdevices/${4,,}:"  # Wine looks up drive links in lower case
  mkdir -p "$mount"
  rm -f "$link"
  small_drive_links+=("$link")
  # A run that was killed may have left its mount behind.
  umount "$mount" 2>/dev/null
  local err
  if err=$(mount -t tmpfs -o "size=$3,mode=0777" "km-$2-small" "$mount" 2>&1); then
    small_drive_mounts+=("$mount")
    ln -s "$mount" "$link"
    return 0
  fi
  small_drive_reason="cannot mount a $3 tmpfs for drive $4: (${err:-mount failed}); mounting needs root or CAP_SYS_ADMIN"
  small_drive_reason=$(echo "$small_drive_reason" | tr '\n' ' ')
  return 1
}

unmap_small_drive() {
  local link mount
  for link in "${small_drive_links[@]}"; do rm -f "$link"; done
  for mount in "${small_drive_mounts[@]}"; do
    umount "$mount" 2>/dev/null || umount -l "$mount" 2>/dev/null
  done
  small_drive_links=()
  small_drive_mounts=()
}
