# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the chroot tests: makes a fresh, minimal Debian 12 root and takes it down again.
#   make_chroot DIR      debootstrap --variant=minbase bookworm into DIR, with proc and /dev/shm mounted
#   in_chroot CMD...     runs CMD in it as root, with a plain environment
#   drop_chroot          unmounts and removes it (also on exit, through the trap the caller sets)
# The mirror is the machine's own (TONVAULT_MIRROR, else the first Debian one in its apt sources).
# TONVAULT_CHROOT_CACHE=FILE.tar keeps the fresh root as a tarball and starts from it next time,
# which saves the debootstrap minutes while working on a test (leave it unset for a true fresh root).

chroot_dir=""

debian_mirror() {
  if [ -n "${TONVAULT_MIRROR:-}" ]; then echo "$TONVAULT_MIRROR"; return; fi
  local uri
  uri=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list 2>/dev/null |
    grep -oE 'https?://[^ ]*/debian/?( |$)' | head -n 1 | tr -d ' ')
  echo "${uri:-http://deb.debian.org/debian}"
}

make_chroot() {
  chroot_dir=$1
  local mirror
  mirror=$(debian_mirror)
  mkdir -p "$chroot_dir"
  if [ -n "${TONVAULT_CHROOT_CACHE:-}" ] && [ -s "$TONVAULT_CHROOT_CACHE" ]; then
    tar -xf "$TONVAULT_CHROOT_CACHE" -C "$chroot_dir"
  else
    debootstrap --variant=minbase bookworm "$chroot_dir" "$mirror" >"$chroot_dir.debootstrap.log" 2>&1 ||
      { tail -n 20 "$chroot_dir.debootstrap.log" >&2; return 1; }
    if [ -n "${TONVAULT_CHROOT_CACHE:-}" ]; then tar -cf "$TONVAULT_CHROOT_CACHE" -C "$chroot_dir" .; fi
  fi
  # A fresh Debian 12 also gets its updates and security fixes.
  cat >"$chroot_dir/etc/apt/sources.list" <<SRC
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb ${mirror%/debian*}/debian-security bookworm-security main
SRC
  cp /etc/resolv.conf "$chroot_dir/etc/resolv.conf" 2>/dev/null || true
  mount -t proc proc "$chroot_dir/proc"
  mkdir -p "$chroot_dir/dev/shm"
  mount -t tmpfs -o mode=1777 shm "$chroot_dir/dev/shm"
}

in_chroot() {
  chroot "$chroot_dir" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}

drop_chroot() {
  [ -n "$chroot_dir" ] || return 0
  local m
  for m in dev/shm proc; do
    mountpoint -q "$chroot_dir/$m" && umount -l "$chroot_dir/$m"
  done
  rm -rf --one-file-system "$chroot_dir" "$chroot_dir.debootstrap.log"
  chroot_dir=""
}
