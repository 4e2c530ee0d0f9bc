#!/bin/busybox sh
# The kernel tier's /init: the host's root (read-only) and the tested build
# tree (the Windows one for the Windows rows) over 9p, a chroot into the
# host's root for the rows, then power off.
#   /init BUILD_DIR KERNEL_ROOT ROWS_SCRIPT ROWS [WINDOWS_BUILD_DIR]   (after the kernel's --)
build=$1 kernel=$2 rows=$3 only=$4 windows=$5 tree=${5:-$1}
/bin/busybox --install -s /bin && export PATH=/bin
mount -t proc proc /proc && mount -t sysfs sysfs /sys && mount -t devtmpfs devtmpfs /dev
for module in /modules/*.ko; do insmod $module; done  # numbered in their order
# Nothing changes either tree from outside while the guest runs: cache them.
options=trans=virtio,version=9p2000.L,msize=262144,cache=loose
if mount -t 9p -o $options,ro hostroot /mnt && mount -t 9p -o $options buildtree "/mnt$tree"; then
  mount -t proc proc /mnt/proc && mount -t sysfs sysfs /mnt/sys && mount -t devtmpfs devtmpfs /mnt/dev
  mkdir -p /mnt/dev/shm && ln -s /proc/self/fd /mnt/dev/fd
  for dir in /tmp /run /var/lib/xkb /dev/shm; do mount -t tmpfs -o mode=1777 tmpfs "/mnt$dir"; done
  PATH=/usr/sbin:/usr/bin:/sbin:/bin chroot /mnt /bin/bash "$rows" "$build" "$kernel" "$only" "$windows"
fi
sync
poweroff -f
