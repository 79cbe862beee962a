#!/bin/bash
# Inside the usbstack guest (first process, root on a tmpfs overlay of the host's root): starts udev
# with the shipped rule, plugs in simulated units as USB serial gadgets and runs the cases named one
# after another, each on freshly plugged units. Prints "usbstack-case CASE" before a case, and
# "usbstack-result CASE passed" or "usbstack-result CASE failed: why" after it; then powers off.
set -uo pipefail
export PATH=/usr/sbin:/usr/bin:/sbin:/bin SYSTEMD_PAGER=cat SYSTEMD_COLORS=0 TERM=dumb
arg() { sed -n "s/.*\\btalvo_$1=\\([^ ]*\\).*/\\1/p" /proc/cmdline; }
cases=$(arg cases | tr ',' ' ')
build=$(arg build)
source_dir=$(arg source)
flash=$build/tools/flash/talvo-flash
sim=$build/tools/sim/talvo-sim
work=/var/tmp/usbstack
gadgets=/sys/kernel/config/usb_gadget
failed=

finish() {
  echo "usbstack: cases over after $(cut -d' ' -f1 /proc/uptime) s"
  sync
  echo o >/proc/sysrq-trigger
  read -r -t 10 _ </dev/console
}
trap finish EXIT

fail() {
  failed=${failed:+$failed; }$*
  echo "usbstack: FAIL: $*"
}

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local limit=$(($(date +%s) + $1))
  shift
  until "$@"; do
    [ "$(date +%s)" -lt "$limit" ] || return 1
    sleep 0.1
  done
}

mount -t tmpfs tmpfs /run
# /tmp stays the host's (written into the overlay): the build and the sources may live there.
mount -t configfs configfs /sys/kernel/config
mkdir -p /dev/pts "$work"
mount -t devpts devpts /dev/pts
hostname usbstack
echo "usbstack: guest up after $(cut -d' ' -f1 /proc/uptime) s"

install -m 644 "$source_dir/tools/linux/60-talvo.rules" /etc/udev/rules.d/60-talvo.rules
# The units are plugged in later: udev needs no coldplug of what is there already.
/usr/lib/systemd/systemd-udevd --daemon
echo "usbstack: udev up after $(cut -d' ' -f1 /proc/uptime) s"

# Plugs in unit $1 (0-based) on dummy_udc.$1 and starts its simulated unit on the gadget's tty;
# further arguments go to talvo-sim.
plug_unit() {
  local n=$1
  shift
  local g=$gadgets/talvo$n
  if [ ! -d "$g" ]; then
    mkdir "$g" "$g/strings/0x409" "$g/configs/c.1" "$g/functions/acm.usb0"
    echo 0x04d8 >"$g/idVendor"
    echo 0x00df >"$g/idProduct"
    echo 0x0200 >"$g/bcdUSB"
    echo "TV40000$n" >"$g/strings/0x409/serialnumber"
    echo "Talvo" >"$g/strings/0x409/manufacturer"
    echo "Talvo flash unit" >"$g/strings/0x409/product"
    ln -s "$g/functions/acm.usb0" "$g/configs/c.1/"
    echo "/dev/ttyGS$(cat "$g/functions/acm.usb0/port_num")" >"$work/sim$n.tty"
    start_sim "$n" "$@"
  fi
  echo "dummy_udc.$n" >"$g/UDC"
}

# Starts unit $1's talvo-sim on its gadget's tty, with its memory file and the arguments after $1.
start_sim() {
  local n=$1
  shift
  # A unit is its own hardware: it must answer within the loader's byte time-out however busy
  # talvo-flash keeps the guest's processors.
  nice -n -10 "$sim" --device "$(cat "$work/sim$n.tty")" --memory-file "$work/unit$n.memory" "$@" \
    >"$work/sim$n.out" 2>"$work/sim$n.err" &
  echo $! >"$work/sim$n.pid"
  wait_for 10 grep -q '^PORT' "$work/sim$n.out" || fail "talvo-sim $n did not start: $(cat "$work/sim$n.err")"
}

unplug_unit() {
  echo "" >"$gadgets/talvo$1/UDC"
}

# The USB port path of unit $1's device ("1-1"): the folder in sysfs above its port's interface.
usb_of() {
  basename "$(readlink -f "/sys/class/tty/$(basename "$(acm_of "$1")")/device/..")"
}

# The host-side port of unit $1: the ttyACM whose USB device has the unit's serial number.
acm_of() {
  local tty
  for tty in /sys/class/tty/ttyACM*; do
    [ -e "$tty" ] || continue
    if [ "$(cat "$tty/device/../serial" 2>/dev/null)" = "TV40000$1" ]; then
      echo "/dev/${tty##*/}"
      return 0
    fi
  done
  return 1
}

# Stops unit $1's talvo-sim, which leaves its memory in its file.
stop_unit() {
  local pid
  pid=$(cat "$work/sim$1.pid")
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
}

# Unplugs and removes every gadget a case left, so that the next case starts with none.
remove_units() {
  local g n
  for g in "$gadgets"/talvo*; do
    [ -d "$g" ] || continue
    n=${g##*/talvo}
    echo "" >"$g/UDC" 2>/dev/null
    [ -f "$work/sim$n.pid" ] && stop_unit "$n"
    rm -f "$g/configs/c.1/acm.usb0"
    rmdir "$g/configs/c.1" "$g/functions/acm.usb0" "$g/strings/0x409" "$g"
  done
  rm -f "$work"/sim* "$work"/unit*
  wait_for 30 eval '! ls /sys/class/tty | grep -q ttyACM' || echo "usbstack: ttyACM ports remain after the cleanup"
  udevadm settle --timeout=30
}

# Unit $1's memory holds the carried image of family $2 and nothing else.
memory_is_image() {
  stop_unit "$1"
  /usr/bin/python3 "$source_dir/tests/support/memory-is-image.py" "$work/unit$1.memory" \
    "$source_dir/resources/fmw/${2,,}/image.txt" || fail "unit $1's memory is not the $2 image"
}

# Runs talvo-flash (as_user in front, if any) with the arguments after $1 (the exit status expected),
# output in $work/out and $work/err, both shown.
as_user=()
flash_expect() {
  local expected=$1
  shift
  timeout 120 "${as_user[@]}" "$flash" "$@" >"$work/out" 2>"$work/err"
  local status=$?
  echo "usbstack: talvo-flash $* -> $status"
  sed 's/^/  out: /' "$work/out"
  grep -v '\b[0-9]* %$' "$work/err" | sed 's/^/  err: /'
  [ "$status" -eq "$expected" ] || fail "talvo-flash $* ended with $status, not $expected"
}

# The lines before the first trouble in each debug log of talvo-flash's runs, for a failed case.
show_logs() {
  local log trouble='NOK\|Too short\|repeat 1$\|error\|fail'
  find "$HOME/.local/share" -name 'talvo-flash-*.log' | sort | while read -r log; do
    grep -av 'Percent\|_percent\|_rxTxtBytes\|imageSize' "$log" >"$work/log"
    grep -aqi "$trouble" "$work/log" || continue
    echo "usbstack: ${log##*/}:"
    grep -ai -B12 -A2 -m1 "$trouble" "$work/log"
  done
}

# Plugs in units 0..$1-1, even ones S, odd ones L, and waits until udev has handled their ports.
plug_units() {
  local n
  for ((n = 0; n < $1; n++)); do
    plug_unit "$n" --family "$(family_of "$n")"
  done
  for ((n = 0; n < $1; n++)); do
    wait_for 30 acm_of "$n" >/dev/null || fail "unit $n has no ttyACM port"
  done
  udevadm settle --timeout=30
}
family_of() { if (($1 % 2)); then echo L; else echo S; fi; }

expect_text() {
  grep -q -e "$2" "$1" || fail "no '$2' in $(basename "$1")"
}

# Found by the ordinary enumeration: sysfs and udev through the real cdc_acm driver. The shipped
# rule, as udev applied it: the uaccess tag, and ModemManager told to keep away.
# Each line names the unit's USB serial number and where it is plugged in (the USB port path, as
# sysfs names the port's device); --serial picks the one unit by its serial number.
case_list() {
  plug_units 2
  flash_expect 0 --list
  expect_text "$work/out" "^$(acm_of 0): found Talvo 400 S, version 49.05 \\[USB serial number TV400000, USB location $(usb_of 0)\\]$"
  expect_text "$work/out" "^$(acm_of 1): found Talvo 400 L, version 52.02 \\[USB serial number TV400001, USB location $(usb_of 1)\\]$"
  flash_expect 0 --list --serial TV400001
  expect_text "$work/out" "^$(acm_of 1): found Talvo 400 L"
  ! grep -q "^$(acm_of 0):" "$work/out" || fail "--serial TV400001 listed the other unit too"
  udevadm info "$(acm_of 0)" >"$work/info"
  grep '^E: \(TAGS\|ID_MM\|ID_VENDOR_ID\|ID_MODEL_ID\|ID_SERIAL_SHORT\|ID_USB_DRIVER\)' "$work/info"
  expect_text "$work/info" '^E: TAGS=.*:uaccess:'
  expect_text "$work/info" '^E: ID_MM_DEVICE_IGNORE=1$'
  expect_text "$work/info" '^E: ID_USB_DRIVER=cdc_acm$'
}

case_install() {
  plug_units 1
  flash_expect 0 --install --fast
  memory_is_image 0 S
}

# An ordinary user without access to the port: the port is root's and dialout's, and without a seat
# (no logind) the rule's uaccess tag grants nothing.
case_noaccess() {
  plug_units 1
  grep -q '^user:' /etc/passwd || echo "user:x:1000:1000::/tmp:/bin/sh" >>/etc/passwd
  grep -q '^user:' /etc/group || echo "user:x:1000:" >>/etc/group
  as_user=(setpriv --reuid=1000 --regid=1000 --clear-groups env HOME=/tmp)
  flash_expect 4 --list
  expect_text "$work/out" "^$(acm_of 0): no access"
  flash_expect 4 --install
  expect_text "$work/err" "no access to $(acm_of 0)"
}

# The cable pulled at about 5 %: an honest failure within seconds that names the restore; plugged in
# again (maybe under another name), the unit waits in its loader and --recover restores it on the
# port it has now, the family taken from the journal.
case_unplug() {
  plug_unit 0 --family S --paced
  wait_for 30 acm_of 0 >/dev/null || fail "the unit has no ttyACM port"
  udevadm settle --timeout=30
  local before
  before=$(acm_of 0)
  "$flash" --install >"$work/out" 2>"$work/err" &
  local pid=$!
  wait_for 60 grep -qE '^([5-9]|[1-9][0-9]) %$' "$work/err" || fail "the installation never reached 5 %"
  # The old port kept open here (nothing read from it): cdc_acm keeps its number until the last
  # close, so the replugged unit comes back under a new name.
  exec 9<"$before"
  unplug_unit 0
  local cut=$SECONDS
  wait_for 15 eval '! kill -0 $pid 2>/dev/null' || fail "talvo-flash still runs 15 s after the unplug"
  wait "$pid"
  local status=$?
  echo "usbstack: talvo-flash --install -> $status, $((SECONDS - cut)) s after the unplug at $(grep -E '^[0-9]+ %$' "$work/err" | tail -n1)"
  cat "$work/out"
  grep -v '^[0-9]* %$' "$work/err"
  [ "$status" -eq 1 ] || fail "the cut installation ended with $status, not 1"
  grep -A1 -x 'Error: Update failed after the unit was erased: it has no firmware now and stays in its loader. Restore it with' \
    "$work/err" >"$work/restore"
  local command
  command=$(sed -n '2s/^  //p' "$work/restore")
  # The port is gone by then: its bare name (which --port takes as the device in /dev) may stand.
  case $command in
    "talvo-flash --recover --family S --port $before" | "talvo-flash --recover --family S --port ${before#/dev/}") ;;
    *) fail "no erased-unit error naming 'talvo-flash --recover --family S --port $before'" ;;
  esac
  plug_unit 0
  wait_for 30 acm_of 0 >/dev/null || fail "the unit has no ttyACM port after the replug"
  udevadm settle --timeout=30
  local after
  after=$(acm_of 0)
  echo "usbstack: unit on $before, after the replug on $after"
  [ "$after" != "$before" ] || fail "the replugged unit came back under its old name $before"
  exec 9<&-
  flash_expect 4 --list
  expect_text "$work/out" "^$after.*loader"
  # The printed command on the port the unit has now, by its bare name and without --family: the
  # journal written before the erase names the family by the unit's serial number. --fast as the
  # unit is paced.
  flash_expect 0 --recover --port "${after#/dev/}" --fast
  expect_text "$work/out" "Restore successful"
  memory_is_image 0 S
  expect_text "$work/sim0.err" "^talvo-sim: 1 hang-ups of $(cat "$work/sim0.tty")$"
}

# The journal's entries as SERIAL=FAMILY words, sorted (runs side by side note in any order).
journal_entries() {
  awk -F= '/^\[/ { serial = substr($0, 2, length($0) - 2) } $1 == "family" { print serial "=" $2 }' \
    "$HOME/.local/share/Talvo/TalvoUpdater/journal.ini" 2>/dev/null | sort | tr '\n' ' '
}

# --all stopped by two interrupts while it writes both units: each run found its unit's serial number
# for the port it was given and noted the unit before the erase. Restores without --family take each
# unit's own entry only: an L unit in its loader without one, beside a healthy S unit whose entry
# stayed, is left alone until its family is given.
case_allcut() {
  plug_units 2
  "$flash" --install --all >"$work/out" 2>"$work/err" &
  local pid=$!
  # SIGTERM: a background job of this shell ignores SIGINT, and so would talvo-flash.
  wait_for 90 eval '[ "$(grep -c "\] 3 %$" "$work/err")" -ge 2 ]' || fail "the units never both reached 3 %"
  kill -TERM "$pid"
  wait_for 30 eval '[ "$(grep -c "\] Warning: stopping now" "$work/err")" -ge 2 ]' || fail "no warning from both runs"
  kill -TERM "$pid"
  wait "$pid"
  local status=$?
  echo "usbstack: talvo-flash --install --all -> $status"
  grep -v '\b[0-9]* %$' "$work/err" | sed 's/^/  err: /'
  [ "$status" -eq 130 ] || fail "the stopped --all ended with $status, not 130"
  echo "usbstack: journal: $(journal_entries)"
  [ "$(journal_entries)" = "TV400000=1 TV400001=2 " ] || fail "the journal does not note both units with their families"
  flash_expect 0 --recover --fast --port "$(acm_of 0)"
  expect_text "$work/out" "^Family: *S$"
  [ "$(journal_entries)" = "TV400001=2 " ] || fail "the restored unit's entry was not cleared"
  # Switched off and on, the restored S unit runs its firmware; its entry back, the L unit's gone: the
  # L unit must not get the S image.
  stop_unit 0
  start_sim 0 --family S
  printf '[TV400000]\nfamily=1\n' >"$HOME/.local/share/Talvo/TalvoUpdater/journal.ini"
  flash_expect 2 --recover --fast
  expect_text "$work/err" "the unit in its loader on $(acm_of 1) is not noted in the journal"
  flash_expect 0 --recover --fast --family L --port "$(acm_of 1)"
  memory_is_image 0 S
  memory_is_image 1 L
}

# Units 0..$1-1 at once; each memory then holds its family's image.
install_all() {
  plug_units "$1"
  flash_expect 0 --install --all --fast
  local n
  for ((n = 0; n < $1; n++)); do
    memory_is_image "$n" "$(family_of "$n")"
  done
}
case_two() { install_all 2; }
case_four() { install_all 4; }

# Each case with its own talvo-flash logs (under HOME), not those of the host's root or of other cases.
for case_name in $cases; do
  failed=
  as_user=()
  export HOME=$work/home/$case_name
  mkdir -p "$HOME"
  echo "usbstack-case $case_name"
  start=$(cut -d' ' -f1 /proc/uptime)
  "case_${case_name//-/_}"
  [ -z "$failed" ] || show_logs
  echo "usbstack: $case_name took $(awk -v start="$start" '{ printf "%.1f", $1 - start }' /proc/uptime) s"
  if [ -n "$failed" ]; then
    echo "usbstack-result $case_name failed: $failed"
  else
    echo "usbstack-result $case_name passed"
  fi
  remove_units
done
