# Sourced by the wine tests. Sets up the private wine prefix named by WINEPREFIX (under the
# build folder), initialising it once per build folder, and exits 77 (a skipped test) with
# the reason when wine cannot start. On exit it waits for the prefix's wine server to end by
# itself (a killed server leaves its device processes behind).
: "${WINEPREFIX:?WINEPREFIX must name the private prefix}"
export WINEPREFIX
export WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and asking for them would stall headless.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

if ! command -v wine >/dev/null 2>&1 || ! command -v wineboot >/dev/null 2>&1; then
  echo "SKIP: wine is not installed (bash tools/install-deps.sh wine installs it)"
  exit 77
fi
mkdir -p "$(dirname "$WINEPREFIX")"
if ! (
  flock 9
  [ -f "$WINEPREFIX/.talvo-ready" ] && exit 0
  rm -rf "$WINEPREFIX"
  wineboot --init >"$WINEPREFIX.log" 2>&1 && wineserver -w && touch "$WINEPREFIX/.talvo-ready"
) 9>"$WINEPREFIX.lock"; then
  echo "SKIP: wine cannot start: wineboot --init failed; its output:"
  tail -n 20 "$WINEPREFIX.log" 2>/dev/null
  exit 77
fi
# Start the server here so that its own output (object dumps when serial ports were in use) goes
# to a log instead of the test's output. The server opens the devices for its programs; as root
# it runs without CAP_SYS_ADMIN, as an ordinary user's would, so that a port another program
# holds exclusively (TIOCEXCL) is refused.
server_caps=()
[ "$(id -u)" -eq 0 ] && server_caps=(setpriv --inh-caps=-sys_admin --bounding-set=-sys_admin --)
"${server_caps[@]}" wineserver >>"$WINEPREFIX.server.log" 2>&1 || true
trap 'wineserver -w >/dev/null 2>&1 || true' EXIT
