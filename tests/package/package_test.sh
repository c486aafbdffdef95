#!/usr/bin/env bash
# Installs the package into a throw-away copy of this machine and checks it:
#   tests/package/package_test.sh PACKAGE.deb
# The copy is an overlay over / whose changes go to a tmpfs, mounted in a
# mount namespace of its own (unshare -m) and entered with chroot; the
# machine itself is never changed. Needs root (CI runs as root).
#
# Checked: apt-get install of the package; every file, link and new folder
# the installation made, with mode and owner, against installed_files.txt;
# "wardex --version"; the installed agent, headless, as nobody and without
# network (unshare -n), answering "wardex-ipc send"; an upgrade to the same
# package with a higher version (one registration, hive, user data and the
# administrator's install.cfg kept); remove and install again (one
# registration, the first installation time kept); purge, which ends a
# running agent and leaves nothing of the package but the user's own files.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)

if [ -z "${WARDEX_PACKAGE_TEST_ROOT:-}" ]; then
  [ "$(id -u)" -eq 0 ] || { echo "package test: needs root" >&2; exit 1; }
  deb=$(realpath "${1:?usage: package_test.sh PACKAGE.deb}")
  work=$(mktemp -d /tmp/wardex-package-test.XXXXXX)
  # Inside a plain chroot "/" is no mount point, so unshare cannot make every
  # mount private; the test's own folder is made a private mount instead
  # (below), and its bind, which the chroot's outside sees, is undone here.
  propagation=private
  mountpoint -q / || propagation=unchanged
  trap 'umount -l "$work" 2>/dev/null || true; rm -rf "$work"' EXIT
  WARDEX_PACKAGE_TEST_ROOT=$work unshare -m --propagation $propagation "$0" "$deb"
  exit
fi

deb=$1
work=$WARDEX_PACKAGE_TEST_ROOT
upper=$work/changes/upper
root=$work/root
if ! mountpoint -q /; then
  mount --bind "$work" "$work"
  mount --make-rprivate "$work"
fi

failures=0
passes=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
pass() {
  echo "ok: $*"
  passes=$((passes + 1))
}

# --- The throw-away root.
mount -t tmpfs -o mode=0700 tmpfs "$work"
mkdir -p "$upper" "$work/changes/work" "$root"
mount -t overlay overlay -o "lowerdir=/,upperdir=$upper,workdir=$work/changes/work" "$root"
mount --rbind /dev "$root/dev"
mount -t proc proc "$root/proc"
mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
mount -t tmpfs -o mode=0755 tmpfs "$root/run"

# Runs a command in the root as root, with a plain environment.
in_root() {
  chroot "$root" /usr/bin/env -i -C / PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}
# Runs a shell script as nobody in the root, without network but loopback:
# the agent's user, with a home folder and runtime folder of its own.
as_user() {
  in_root unshare -n /bin/sh -c "ip link set lo up && exec setpriv --reuid=nobody --regid=nogroup \
    --clear-groups /usr/bin/env -i PATH=/usr/bin:/bin HOME=/tmp/home XDG_RUNTIME_DIR=/tmp/home/run \
    WARDEX_SHELL=headless WARDEX_LOG_JOURNAL=0 LANG=C.UTF-8 /bin/sh -c \"\$1\"" sh "$1"
}
# apt-get without network: every dependency must already be on the machine.
# The administrator's own runs (the product key, --version) log to /tmp, so
# that the purge check sees only what the package's runs leave in root's home.
admin_query() {
  in_root env WARDEX_LOG_FILE=/tmp/admin.log wardex-reg query 'HKLM\SOFTWARE\Corvane\Brisko' "$@"
}
apt_install() {
  if ! in_root unshare -n apt-get install -y -q "$@" >"$work/apt.log" 2>&1; then
    cat "$work/apt.log" >&2
    return 1
  fi
}

# The machine's own records of an installation, which any package changes:
# dpkg's and apt's databases, caches and logs, and the caches that the icon
# theme's, the menu's and the manual's triggers refresh.
ignored() {
  case "/$1" in
    /var/lib/dpkg | /var/lib/dpkg/* | /var/lib/apt | /var/lib/apt/* | /var/cache | /var/cache/* | \
      /var/log/apt | /var/log/apt/* | /var/log/dpkg.log | /var/log/alternatives.log | \
      /usr/share/icons/hicolor/icon-theme.cache | /usr/share/applications/mimeinfo.cache | /etc/ld.so.cache | /tmp | /tmp/* | /run | /run/* | \
      /dev | /dev/* | /proc | /proc/*) return 0 ;;
  esac
  return 1
}

# True when PATH (relative to /) was in the copy before the installation:
# on this machine, and not below what the clean-up took out.
existed() {
  local prefix=$1
  while :; do
    grep -qxF "$prefix" "$work/removed.txt" && return 1
    [ "$prefix" = "${prefix%/*}" ] && break
    prefix=${prefix%/*}
  done
  [ -e "/$1" ] || [ -L "/$1" ]
}

# Every file and link the root gained or changed, and every folder it gained,
# one "MODE OWNER:GROUP PATH[ -> TARGET]" a line.
changes() {
  (cd "$upper" && find . -mindepth 1 -printf '%P\n' | LC_ALL=C sort) | while IFS= read -r path; do
    ignored "$path" && continue
    if [ -d "$upper/$path" ] && [ ! -L "$upper/$path" ] && existed "$path"; then continue; fi
    # What the clean-up took out stays out (the overlay's mark of a removal).
    if [ -c "$upper/$path" ] && grep -qxF "$path" "$work/removed.txt"; then continue; fi
    if [ -L "$upper/$path" ]; then
      echo "$(stat -c '%a %U:%G' "$upper/$path") /$path -> $(readlink "$upper/$path")"
    else
      echo "$(stat -c '%a %U:%G' "$upper/$path") /$path"
    fi
  done
}

# What an earlier run on this machine may have left of the product (a hive
# made by a test run as root, say) is taken out of the copy, so that the copy
# starts as a machine that never had it.
in_root rm -rf /etc/wardex /usr/lib/wardex /var/lib/wardex /var/log/wardex
in_root sh -c 'rm -f /etc/xdg/autostart/*Wardex*'
(cd "$upper" && find . -mindepth 1 -type c -printf '%P\n') >"$work/removed.txt"

# --- The packages: version N as built, N+1 the same files under a higher version.
mkdir "$root/tmp/packages"
cp "$deb" "$root/tmp/packages/"
version=$(dpkg-deb -f "$deb" Version)
dpkg-deb -R "$deb" "$work/next"
sed -i "s/^Version: .*/Version: $version+1/" "$work/next/DEBIAN/control"
dpkg-deb -b "$work/next" "$root/tmp/packages/wardex_next.deb" >/dev/null
deb_name=/tmp/packages/$(basename "$deb")

# --- Install.
apt_install "$deb_name" || { echo "package test: apt-get install failed" >&2; exit 1; }
pass "apt-get install $(basename "$deb")"

# The list's lines marked "?" name folders that the package makes only where
# the machine has none, as a machine without a desktop has no autostart folder.
expected_files() {
  while IFS= read -r line; do
    case "$line" in
      '#'*) ;;
      '? '*)
        path=${line#? * * /}
        existed "$path" || echo "${line#? }"
        ;;
      *) echo "$line" ;;
    esac
  done <"$here/installed_files.txt"
}

changes >"$work/installed.txt"
if diff -u <(expected_files) "$work/installed.txt"; then
  pass "every installed path, mode and owner as listed"
else
  fail "the installed files differ from installed_files.txt (- expected, + installed)"
fi

printed=$(in_root env WARDEX_LOG_FILE=/tmp/admin.log wardex --version)
[ "$printed" = "Wardex ${version%%-*}" ] && pass "wardex --version: $printed" ||
  fail "wardex --version printed \"$printed\", not \"Wardex ${version%%-*}\""

# The administrator points every address at this computer (and the upgrade
# must keep the change).
cat >>"$root/etc/wardex/install.cfg" <<'CFG'

[web]
newsfeedURL=https://127.0.0.1:9/newsfeed/

[time]
servers=127.0.0.1:123
reply_timeout=200
CFG

# --- The installed agent, as a user, answers a pipe message.
reply_of_5='[{"ModuleIdentificator":"","ModuleRequest":5}]'
# shellcheck disable=SC2016 # expanded by the user's shell
answer=$(as_user '
  mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
  wardex >/tmp/home/agent.out 2>&1 &
  agent=$!
  reply=""
  tries=0
  while [ $tries -lt 300 ] && ! reply=$(wardex-ipc send --timeout 2000 "{\"ModuleRequest\":5}" 2>/dev/null); do
    tries=$((tries + 1))
    sleep 0.2
  done
  kill -TERM $agent
  wait $agent
  echo "$reply"') || true
[ "$answer" = "$reply_of_5" ] && pass "the installed agent answers wardex-ipc send as nobody" ||
  fail "the agent answered \"$answer\", not $reply_of_5 (log: $(tail -5 "$root/tmp/home/.local/state/wardex/log/wardex.log" 2>/dev/null))"
if grep -i "not trusted\|signature" "$root/tmp/home/.local/state/wardex/log/wardex.log" >&2; then
  fail "the agent refused a library of the package"
fi

# The machine hive is the installer's: a user reads it and may not write it.
# shellcheck disable=SC2016
if as_user 'wardex-reg set "HKLM\SOFTWARE\Corvane\Brisko" /v ByUser /d x' 2>/dev/null; then
  fail "nobody could write the machine hive"
else
  pass "nobody cannot write the machine hive"
fi

# The machine-wide autostart entries that start the installed agent.
autostart_entries() {
  in_root sh -c 'grep -l "^Exec=.*/usr/lib/wardex/wardex" /etc/xdg/autostart/*.desktop 2>/dev/null | wc -l'
}

# --- Upgrade to N+1 over a used installation.
stamp=$(admin_query /v INSTALLTIMESTAMP_UTC)
[ -n "$stamp" ] && pass "INSTALLTIMESTAMP_UTC recorded" || fail "no INSTALLTIMESTAMP_UTC"
# shellcheck disable=SC2016
as_user 'wardex-reg set "HKCU\Software\PackageTest" /v Kept /d yes >/dev/null &&
  mkdir /var/lib/wardex/common/PackageTest && echo kept >/var/lib/wardex/common/PackageTest/data'
apt_install /tmp/packages/wardex_next.deb || fail "apt-get install of version N+1 failed"
[ "$(in_root dpkg-query -W -f '${Version}' wardex)" = "$version+1" ] && pass "upgraded to $version+1" ||
  fail "not upgraded"
entries=$(autostart_entries)
[ "$entries" = 1 ] && pass "one autostart entry after the upgrade" || fail "$entries autostart entries after the upgrade"
[ "$(admin_query /v INSTALLTIMESTAMP_UTC)" = "$stamp" ] &&
  pass "the upgrade keeps the installation time" || fail "the upgrade changed INSTALLTIMESTAMP_UTC"
# shellcheck disable=SC2016
as_user 'wardex-reg query "HKCU\Software\PackageTest" /v Kept | grep -q yes &&
  grep -q kept /var/lib/wardex/common/PackageTest/data' && pass "the upgrade keeps the user's data" ||
  fail "the upgrade lost the user's hive value or common data"
grep -q '^newsfeedURL=https://127.0.0.1:9/newsfeed/' "$root/etc/wardex/install.cfg" &&
  pass "the upgrade keeps the administrator's install.cfg" || fail "the upgrade replaced the changed install.cfg"

# --- Remove keeps the configuration and the hive; installing again registers once.
in_root unshare -n apt-get remove -y -q wardex >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get remove failed"; }
entries=$(autostart_entries)
[ "$entries" = 0 ] && pass "remove takes the autostart entry away" || fail "$entries autostart entries after remove"
[ -f "$root/var/lib/wardex/registry/machine.db" ] && [ -f "$root/etc/wardex/install.cfg" ] &&
  pass "remove keeps the machine hive and install.cfg" || fail "remove took the machine hive or install.cfg"
apt_install /tmp/packages/wardex_next.deb || fail "installing again after remove failed"
entries=$(autostart_entries)
[ "$entries" = 1 ] && pass "one autostart entry after installing again" ||
  fail "$entries autostart entries after installing again"
[ "$(admin_query /v INSTALLTIMESTAMP_UTC)" = "$stamp" ] &&
  pass "installing again keeps the first installation time" || fail "installing again changed INSTALLTIMESTAMP_UTC"

# --- Purge, while the user's agent runs: it is ended, and nothing is left.
# shellcheck disable=SC2016
in_root sh -c 'unshare -n sh -c "ip link set lo up; exec setpriv --reuid=nobody --regid=nogroup --clear-groups \
  env -i PATH=/usr/bin:/bin HOME=/tmp/home XDG_RUNTIME_DIR=/tmp/home/run WARDEX_SHELL=headless \
  WARDEX_LOG_JOURNAL=0 wardex" >/dev/null 2>&1 & echo $! >/tmp/agent.pid'
for _ in $(seq 1 100); do
  [ -S "$root/tmp/home/run/wardex/ipc/wardex" ] && break
  sleep 0.2
done
in_root unshare -n apt-get purge -y -q wardex >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get purge failed"; }
agent=$(cat "$root/tmp/agent.pid")
for _ in $(seq 1 50); do
  kill -0 "$agent" 2>/dev/null || break
  sleep 0.2
done
if kill -0 "$agent" 2>/dev/null; then
  fail "the user's running agent was not ended by the removal"
  kill -KILL "$agent" 2>/dev/null || true
else
  pass "the removal ended the user's running agent"
fi
changes >"$work/left.txt"
if [ -s "$work/left.txt" ]; then
  fail "purge left:"
  cat "$work/left.txt" >&2
else
  pass "purge leaves nothing of the package"
fi
[ -f "$root/tmp/home/.local/share/wardex/registry/user.db" ] && pass "purge keeps the user's own hive" ||
  fail "purge removed the user's own hive"

umount -R "$root" 2>/dev/null || true
echo "package_test: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
