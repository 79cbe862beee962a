#!/usr/bin/env bash
# Runs cases of tests/usbstack/guest.sh inside one Linux guest under QEMU, where talvo-flash meets
# the real USB stack: Debian's kernel (unpacked, not installed) with dummy_hcd, USB serial gadgets
# served by talvo-sim and the cdc_acm driver, and this machine's root read-only under a tmpfs.
#   usbstack.sh BUILD_DIR CASE...          boots the guest for the cases and shows each one's result
#   usbstack.sh BUILD_DIR --guest CASE...  boots it only and shows its console
#   usbstack.sh BUILD_DIR --result CASE    shows a case's part of the last --guest boot
# Exit status: 0 passed, 1 failed, 77 skipped (a tool is missing: tools/install-deps.sh usbstack).
set -euo pipefail
build=$(cd "$1" && pwd)
shift
mode=all
case ${1:-} in --guest | --result) mode=${1#--} && shift ;; esac
[ $# -gt 0 ] || { echo "usage: usbstack.sh BUILD_DIR [--guest|--result] CASE..."; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
cache=$build/usbstack
log=$cache/guest.console

# A case's lines of the console, and whether it passed.
result() {
  if [ -f "$cache/guest.skipped" ]; then
    cat "$cache/guest.skipped"
    return 77
  fi
  [ -f "$log" ] || { echo "usbstack: no guest console $log: run the usbstack_guest test first"; return 1; }
  # Read once, not piped into grep -q: its early exit would fail the pipe.
  local console
  console=$(tr -d '\r' <"$log")
  sed -n "/^usbstack-case $1\$/,/^usbstack-result $1 /p" <<<"$console" | grep -v '^usbstack-'
  grep -q "^usbstack-result $1 passed\$" <<<"$console" && return 0
  grep "^usbstack-result $1 " <<<"$console" || echo "usbstack: $1 did not finish in the guest (console in $log)"
  return 1
}
if [ "$mode" = result ]; then
  status=0
  result "$1" || status=$?
  exit $status
fi
rm -f "$log" "$cache/guest.skipped"
skip() {
  mkdir -p "$cache"
  echo "usbstack: $1 is missing; install the test's packages: tools/install-deps.sh usbstack" |
    tee "$cache/guest.skipped"
  exit 77
}

for tool in qemu-system-x86_64 busybox cpio apt-get dpkg; do
  command -v "$tool" >/dev/null || skip "$tool"
done
for tool in /usr/lib/systemd/systemd-udevd /usr/bin/udevadm; do
  [ -x "$tool" ] || skip "$tool"
done

# The kernel of Debian's linux-image-amd64, unpacked into the build folder once; the initramfs holds
# busybox and the modules the guest loads, in dependency order.
prepare() {
  mkdir -p "$cache"
  local package
  package=$(apt-cache depends linux-image-amd64 | sed -n 's/^ *Depends: \(linux-image-[^ ]*\)$/\1/p' | head -n1)
  [ -n "$package" ] || { echo "usbstack: apt-cache names no kernel for linux-image-amd64"; return 1; }
  local release=${package#linux-image-}
  local kernel=$cache/$package
  if [ ! -f "$kernel/boot/vmlinuz-$release" ]; then
    if ! (cd "$cache" && rm -f "$package"_*.deb && apt-get download "$package" >"$cache/download.log" 2>&1); then
      cat "$cache/download.log"
      echo "usbstack: cannot download $package"
      return 1
    fi
    rm -rf "$kernel.part"
    dpkg -x "$cache/$package"_*.deb "$kernel.part"
    rm -f "$cache/$package"_*.deb
    mv "$kernel.part" "$kernel"
  fi
  ln -sfn "$kernel/boot/vmlinuz-$release" "$cache/vmlinuz"

  local modules=$kernel/lib/modules/$release
  local root=$cache/initramfs
  if [ "$cache/initramfs.gz" -nt "$here/init" ] && [ "$cache/initramfs.gz" -nt "$0" ] &&
    [ "$cache/initramfs.gz" -nt "$kernel" ]; then
    return 0
  fi
  rm -rf "$root"
  mkdir -p "$root"/{bin,modules,proc,sys,dev}
  cp "$(command -v busybox)" "$root/bin/busybox"
  cp "$here/init" "$root/init"
  local wanted=(virtio_pci 9pnet_virtio 9p overlay configfs dummy_hcd libcomposite usb_f_acm cdc_acm)
  # A module's dependencies are named in its .modinfo section (the package has no modules.dep).
  local order=() seen=" "
  add() {
    local name=${1//-/_} path dep
    case "$seen" in *" $name "*) return ;; esac
    path=$(find "$modules/kernel" -name "$name.ko" -o -name "${name//_/-}.ko" | head -n1)
    [ -n "$path" ] || { echo "usbstack: $release has no module $name"; return 1; }
    for dep in $(tr '\0' '\n' <"$path" | sed -n 's/^depends=//p' | tr ',' ' '); do
      add "$dep" || return 1
    done
    seen+="$name "
    order+=("$path")
  }
  local name path
  for name in "${wanted[@]}"; do
    add "$name" || return 1
  done
  : >"$root/modules.order"
  for path in "${order[@]}"; do
    cp "$path" "$root/modules/"
    basename "$path" >>"$root/modules.order"
  done
  # Four dummy host and device controllers: one per unit of the largest case.
  echo "dummy_hcd num=4" >"$root/modules.options"
  (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$cache/initramfs.gz.part"
  mv "$cache/initramfs.gz.part" "$cache/initramfs.gz"
}

# Cases that run at once share the kernel and the initramfs.
exec 9>"$build/usbstack.lock"
flock 9
prepare
flock -u 9

cases=$(IFS=,; echo "$*")
start=$SECONDS
status=0
# One processor: two on their own host threads (-accel tcg,thread=multi -smp 2) made the install case
# 2.5 times as slow on the 2-core machine.
timeout 400 qemu-system-x86_64 -accel tcg -cpu qemu64 -smp 1 -m 1024 -nographic -no-reboot \
  -nodefaults -serial stdio -monitor none \
  -kernel "$cache/vmlinuz" -initrd "$cache/initramfs.gz" \
  -append "console=ttyS0 panic=-1 quiet loglevel=4 talvo_script=$here/guest.sh talvo_cases=$cases talvo_build=$build talvo_source=$source_dir" \
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
  </dev/null >"$log" 2>&1 || status=$?
[ "$mode" = all ] || tr -d '\r' <"$log"
echo "usbstack: guest ran $((SECONDS - start)) s for $cases (console in $log)"
if [ $status -ne 0 ]; then
  [ $status -eq 124 ] && echo "usbstack: the guest did not power off within 400 s"
  echo "usbstack: QEMU ended with status $status"
fi
# The cases' own tests (--result) tell which ones failed or did not finish.
[ "$mode" = all ] || exit 0
failed=0
for case_name in "$@"; do
  echo "usbstack: --- $case_name"
  result "$case_name" || failed=1
done
exit $failed
