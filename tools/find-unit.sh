#!/usr/bin/env bash
# Exits 0 when a Talvo unit (USB 04d8:00df) is plugged in, and prints its serial port(s).
found=1
for dev in /sys/bus/usb/devices/*; do
  [ -r "$dev/idVendor" ] && [ -r "$dev/idProduct" ] || continue
  [ "$(cat "$dev/idVendor")" = "04d8" ] && [ "$(cat "$dev/idProduct")" = "00df" ] || continue
  for tty in "$dev"/*/tty/* "$dev"/*/tty*; do
    [ -e "$tty" ] && echo "/dev/$(basename "$tty")"
  done
  found=0
done
exit $found
