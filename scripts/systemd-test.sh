#!/usr/bin/env bash
# The Debian package's service under a real systemd (CI runs it from
# scripts/test.sh): boots Debian 12 in a container, installs the package
# and checks, from inside (scripts/systemd-test/check.sh), readiness, the
# status page, the sandbox's devices and its read-only /run, the watchdog
# restarting a hung process, a clean stop, LoadCredential= and the unit's
# exposure score.
#
#   bash scripts/systemd-test.sh [PACKAGE.deb]
#
# Needs root and a cgroup2 hierarchy; skipped with a line saying why where
# it cannot run. The container's root is made once with debootstrap from
# the mirror apt already uses and kept in $PARKING_SYSTEMD_CACHE
# (/var/cache/parking-systemd-test); each run works on a copy.
#
# The container runs in a cgroup of its own and a private mount namespace
# with a tmpfs over /run/systemd, so it needs no system bus on the host and
# leaves nothing behind. The unified hierarchy and bpf() let systemd inside
# enforce DevicePolicy=/DeviceAllow= (without them they are silently not).
set -euo pipefail
cd "$(dirname "$0")/.."
say() { echo "systemd-test: $*"; }
skip() { say "skipped: $*"; exit 0; }
fail() { say "FAILED: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || skip "needs root (debootstrap, systemd-nspawn)"
if [ -f /sys/fs/cgroup/cgroup.controllers ]; then
  cgroup_root=/sys/fs/cgroup
elif [ -f /sys/fs/cgroup/unified/cgroup.procs ]; then
  cgroup_root=/sys/fs/cgroup/unified
else
  skip "no cgroup2 hierarchy on this machine"
fi
bash scripts/install-deps.sh # debootstrap and systemd-nspawn among them

deb="${1:-}"
[ -n "$deb" ] || deb=$(bash scripts/package.sh | tail -1)
[ -f "$deb" ] || fail "no package $deb"

cache="${PARKING_SYSTEMD_CACHE:-/var/cache/parking-systemd-test}"
base="$cache/bookworm"
mirror=$(grep -hoE '^(URIs:|deb)[[:space:]]+https?://[^[:space:]]+/debian/?([[:space:]]|$)' \
           /etc/apt/sources.list /etc/apt/sources.list.d/* 2>/dev/null | awk '{print $2}' | head -1 || true)
mirror="${mirror:-http://deb.debian.org/debian}"
if [ ! -f "$base/.complete" ]; then
  say "making the container's root from $mirror (once; kept in $cache)"
  rm -rf "$base"
  mkdir -p "$cache"
  debootstrap --variant=minbase --include=systemd,systemd-sysv,dbus,curl,sqlite3 bookworm "$base" "$mirror" \
    >"$cache/debootstrap.log" 2>&1 || { tail -20 "$cache/debootstrap.log"; fail "debootstrap"; }
  touch "$base/.complete"
fi

work=$(mktemp -d /var/tmp/parking-systemd-test.XXXXXX)
root="$work/root"
cgroup="$cgroup_root/parking-systemd-test-$$"
cleanup() {
  umount "$root/var/cache/apt/archives" 2>/dev/null || true
  rm -rf "$work"
  rmdir "$cgroup" 2>/dev/null || true
}
trap cleanup EXIT
cp -a "$base" "$root"

# The package and what it depends on, from the same mirror; downloads kept.
mkdir -p "$cache/archives/partial"
mount --bind "$cache/archives" "$root/var/cache/apt/archives"
cp "$deb" "$root/tmp/"
cp /etc/resolv.conf "$root/etc/resolv.conf"
chroot "$root" apt-get update -qq >/dev/null || fail "apt-get update in the container"
DEBIAN_FRONTEND=noninteractive chroot "$root" apt-get install -y -qq "/tmp/$(basename "$deb")" >"$work/install.log" 2>&1 \
  || { tail -20 "$work/install.log"; fail "installing the package in the container"; }
umount "$root/var/cache/apt/archives"

# The checks run as a unit once the system is up, then power it off.
install -m 0755 scripts/systemd-test/check.sh "$root/root/check.sh"
cat >"$root/etc/systemd/system/parking-check.service" <<'UNIT'
[Unit]
Description=parking-station checks under systemd
After=multi-user.target
[Service]
Type=oneshot
TimeoutStartSec=240
ExecStart=/root/check.sh
ExecStopPost=/bin/systemctl poweroff --no-block
[Install]
WantedBy=multi-user.target
UNIT
ln -sf /etc/systemd/system/parking-check.service "$root/etc/systemd/system/multi-user.target.wants/"

say "booting the container"
mkdir "$cgroup" 2>/dev/null || skip "cannot make a cgroup under $cgroup_root"
unshare --mount --propagation private true 2>/dev/null || skip "cannot make a private mount namespace"
status=0
unshare --mount --propagation private bash -c '
  echo $$ >"$1/cgroup.procs"
  mount -t tmpfs tmpfs /run/systemd
  SYSTEMD_NSPAWN_UNIFIED_HIERARCHY=1 exec timeout 300 systemd-nspawn -q -D "$2" --register=no --keep-unit \
    --private-network --system-call-filter=bpf -b' _ "$cgroup" "$root" >"$work/console.log" 2>&1 || status=$?
if [ ! -f "$root/root/check.log" ]; then
  # The checks never started: the container did not boot on this machine.
  tail -15 "$work/console.log"
  skip "the container did not boot here (systemd-nspawn exit $status); see the lines above"
fi
sed 's/^/  /' "$root/root/check.log"
if [ "$(cat "$root/root/check.status" 2>/dev/null)" != 0 ]; then
  tail -30 "$work/console.log"
  fail "the checks under systemd (container exit $status)"
fi
say "passed"
