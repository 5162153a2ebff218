#!/usr/bin/env bash
# End-to-end test on the kernel's own uvcvideo: qemu (TCG) boots Debian's
# kernel with an initramfs that holds busybox, the USB/IP and UVC modules,
# veltrane-upgrade and the camera server; the guest's /init (guest_init.sh)
# runs the cases and prints ok/FAIL lines on the serial console.
#   run_kernel_e2e.sh VELTRANE_UPGRADE USBIP_CAMERA XU_BENCH WORK_DIR
# WORK_DIR caches the kernel (per Debian package version) and receives the
# initramfs and the console log. Exits 0 when every case passed.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
programs=("$(readlink -f "$1")" "$(readlink -f "$2")" "$(readlink -f "$3")")
work=$(mkdir -p "$4" && readlink -f "$4")
# In load order: insmod resolves nothing by itself.
modules=(usb-common usbcore usbip-core vhci-hcd mc videodev videobuf2-common videobuf2-memops
         videobuf2-v4l2 videobuf2-vmalloc uvcvideo)
qemu_timeout=${VELTRANE_KERNEL_E2E_TIMEOUT:-600}

die() {
  echo "kernel-e2e: $*" >&2
  exit 1
}

# The versioned image linux-image-amd64 depends on, unpacked once into
# WORK_DIR/kernel/<package>: vmlinuz and the modules above, uncompressed.
fetch_kernel() {
  local package
  package=$(apt-cache depends linux-image-amd64 2>/dev/null |
    awk '/Depends: linux-image-[0-9]/ { print $2; exit }')
  [ -n "$package" ] || die "apt-cache knows no linux-image-amd64 (run apt-get update)"
  kernel=$work/kernel/$package
  if [ -f "$kernel/vmlinuz" ] && [ -f "$kernel/uvcvideo.ko" ]; then
    return 0
  fi
  echo "kernel-e2e: fetching $package"
  local fetch
  fetch=$(mktemp -d "$work/fetch.XXXXXX")
  (cd "$fetch" && apt-get download -q -o APT::Sandbox::User=root "$package") >&2 ||
    die "apt-get download $package failed"
  dpkg-deb -x "$fetch"/*.deb "$fetch/x" || die "dpkg-deb could not unpack $package"
  mkdir -p "$kernel.new"
  cp "$fetch"/x/boot/vmlinuz-* "$kernel.new/vmlinuz" || die "no vmlinuz in $package"
  local module file
  for module in "${modules[@]}"; do
    file=$(find "$fetch/x/lib/modules" -name "$module.ko*" | head -n 1)
    [ -n "$file" ] || die "$package has no $module"
    # busybox's insmod reads plain modules only.
    case $file in
      *.ko.xz) xz -dc "$file" >"$kernel.new/$module.ko" ;;
      *.ko) cp "$file" "$kernel.new/$module.ko" ;;
      *) die "$file: compression busybox can't read" ;;
    esac || die "could not copy $file"
  done
  rm -rf "$fetch" "$kernel"
  mv "$kernel.new" "$kernel"
}

# Copies an executable (stripped) and the libraries ldd lists, loader too.
add_program() {
  local root=$1 program=$2 lib
  strip -o "$root/usr/bin/$(basename "$program")" "$program" 2>/dev/null ||
    cp "$program" "$root/usr/bin/"
  for lib in $(ldd "$program" | awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }'); do
    mkdir -p "$root$(dirname "$lib")"
    [ -e "$root$lib" ] || cp -L "$lib" "$root$lib"
  done
}

build_initramfs() {
  local root=$work/initramfs busybox
  busybox=$(command -v busybox) || die "busybox missing (busybox-static)"
  ldd "$busybox" >/dev/null 2>&1 && die "$busybox is linked dynamically; install busybox-static"
  rm -rf "$root"
  mkdir -p "$root"/{bin,usr/bin,lib/modules,proc,sys,dev,tmp,etc,root,home/camuser}
  cp "$busybox" "$root/bin/busybox"
  local module
  for module in "${modules[@]}"; do cp "$kernel/$module.ko" "$root/lib/modules/"; done
  printf '%s\n' "${modules[@]}" >"$root/lib/modules/order"
  local program
  for program in "${programs[@]}"; do add_program "$root" "$program"; done
  # The order of a record's fsync and link calls, seen from outside.
  command -v strace >/dev/null || die "strace missing (install strace)"
  add_program "$root" "$(command -v strace)"
  printf 'root:x:0:0:root:/root:/bin/sh\ncamuser:x:1000:1000:camera user:/home/camuser:/bin/sh\n' \
    >"$root/etc/passwd"
  printf 'root:x:0:\nvideo:x:44:\ncamuser:x:1000:\n' >"$root/etc/group"
  cp "$here/guest_init.sh" "$root/init"
  chmod 0755 "$root/init"
  (cd "$root" && find . | cpio -o -H newc --quiet) >"$work/initrd.cpio" || die "cpio failed"
}

start=$SECONDS
fetch_kernel
build_initramfs
prepared=$SECONDS
echo "kernel-e2e: $(basename "$kernel"), initramfs $(($(stat -c %s "$work/initrd.cpio") / 1024)) KiB," \
  "ready in $((prepared - start)) s"

millis() { echo $(($(date +%s%N) / 1000000)); }
# The guest's lines as they come (unbuffered, so the boot time is true),
# with the wall time it took to boot.
show() {
  local line
  while IFS= read -r line; do
    case $line in
      "# guest ready"*) echo "kernel-e2e: booted in $(($(millis) - qemu_start)) ms (wall)" ;;
    esac
    case $line in
      ok* | FAIL* | "#"* | kernel-e2e*) echo "$line" ;;
    esac
  done
}

log=$work/console.log
qemu_start=$(millis)
timeout "$qemu_timeout" qemu-system-x86_64 -accel tcg -smp 1 -m 256 -nographic -no-reboot \
  -nic none -kernel "$kernel/vmlinuz" -initrd "$work/initrd.cpio" \
  -append "console=ttyS0 quiet loglevel=3 panic=-1" </dev/null 2>&1 |
  sed -u 's/\r$//' | tee "$log" | show
qemu_status=${PIPESTATUS[0]}
echo "kernel-e2e: qemu ran $((($(millis) - qemu_start) / 1000)) s under TCG (exit $qemu_status)"

done_line=$(grep -E '^kernel-e2e done: ' "$log" | tail -n 1)
[ -n "$done_line" ] || die "the guest never finished (timeout ${qemu_timeout} s or a crash); see $log"
failed=$(grep -c '^FAIL - ' "$log")
passed=$(grep -c '^ok - ' "$log")
echo "kernel-e2e: $passed cases passed, $failed failed"
[ "$qemu_status" -eq 0 ] && [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ] &&
  [[ $done_line == *"passed=$passed failed=0"* ]]
