# Sourced by the scripts that run Windows programs under Wine: one persistent
# wineserver for a prefix, started and checked before the first program, and
# stopped at the end, also when a step fails or the script is interrupted.
#
# Left to itself, every Wine process starts a server when none runs, and
# Debian's server exits as soon as its last client has (its wrapper passes -p0):
# a program that starts while the previous one's server is going away connects
# to a dying server and ends with "wine client error:0: recvmsg: Connection
# reset by peer". So after `wineboot --init` (waited for until its server has
# gone), a persistent server (`wineserver -p`) is started and checked; the first
# client, with its standard streams on /dev/null, starts Wine's services, which
# then live as long as the server, so that no later program's pipes are handed
# down to them.
#
#   wine_tool=NAME               the name messages start with
#   WINEPREFIX=...               the prefix, made afresh by fresh_wine_prefix
#   fresh_wine_prefix LOADER     removes the prefix (and a server left behind)
#   start_wineserver LOADER      e.g. /usr/lib/wine/wine or /usr/lib/wine/wine64
#   stop_wineserver              (also run on exit)
#   why_not_wine32               whether and why $wine32_loader cannot run here

export WINEDEBUG=-all
: "${wine_tool:=wine}"

# The server of the prefix, while one is running for this stage.
wineserver_bin=
stop_wineserver() {
  if [ -n "$wineserver_bin" ]; then
    "$wineserver_bin" -k 2>/dev/null || true
    "$wineserver_bin" -w 2>/dev/null || true
    wineserver_bin=
  fi
}
trap stop_wineserver EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The folder of the prefix's server socket: Debian's Wine keeps the name of its
# private folder under TMPDIR in $WINEPREFIX/wineserver, upstream Wine uses
# /tmp/.wine-<uid>; in it, server-<device>-<inode> of the prefix, in hex.
server_dir() {
  local dev ino base
  read -r dev ino < <(stat -c '%d %i' "$WINEPREFIX")
  if [ -r "$WINEPREFIX/wineserver" ]; then
    base="${TMPDIR:-/tmp}/$(cat "$WINEPREFIX/wineserver")"
  else
    base="/tmp/.wine-$(id -u)"
  fi
  printf '%s/server-%x-%x\n' "$base" "$dev" "$ino"
}

# The process whose working folder is the server folder (wineserver works there).
server_pid() {
  local dir=$1 link
  for link in /proc/[0-9]*/cwd; do
    if [ "$(readlink "$link" 2>/dev/null)" = "$dir" ]; then
      link=${link#/proc/}
      echo "${link%/cwd}"
      return 0
    fi
  done
  return 1
}

start_wineserver() { # wine loader
  local loader=$1 dir pid
  wineserver_bin="${loader%/*}/wineserver"
  if [ ! -x "$wineserver_bin" ]; then
    echo "$wine_tool: no wineserver next to $loader" >&2
    exit 1
  fi
  "$loader" wineboot --init >/dev/null 2>&1 </dev/null
  "$wineserver_bin" -w
  "$wineserver_bin" -p
  dir=$(server_dir)
  for _ in $(seq 100); do
    [ -S "$dir/socket" ] && pid=$(server_pid "$dir") && break
    sleep 0.1
  done
  if [ -z "${pid:-}" ]; then
    echo "$wine_tool: the wineserver of $WINEPREFIX did not come up" >&2
    exit 1
  fi
  "$loader" cmd /c exit 0 >/dev/null 2>&1 </dev/null
  if [ "$(server_pid "$dir" || true)" != "$pid" ]; then
    echo "$wine_tool: the wineserver of $WINEPREFIX did not stay up" >&2
    exit 1
  fi
  echo "$wine_tool: persistent wineserver $pid ($wineserver_bin) for $WINEPREFIX"
}

fresh_wine_prefix() { # wine loader
  local loader=$1
  if [ -d "$WINEPREFIX" ]; then
    # A server left behind by an interrupted script would outlive the prefix.
    "${loader%/*}/wineserver" -k 2>/dev/null || true
    "${loader%/*}/wineserver" -w 2>/dev/null || true
  fi
  rm -rf "$WINEPREFIX"
}

# Wine's 32-bit loader runs the 32-bit programs. why_not_wine32 prints
# "missing" when Wine's 32-bit half is not installed (scripts/install-deps goes
# on without it when the i386 packages cannot be had) and "kernel" when the
# kernel does not execute 32-bit code, or returns 1 when the loader works.
wine32_loader=/usr/lib/wine/wine
why_not_wine32() {
  if [ ! -x "$wine32_loader" ]; then
    echo missing
  elif ! "$wine32_loader" --version >/dev/null 2>&1; then
    echo kernel
  else
    return 1
  fi
}
