#!/bin/busybox sh
# The kernel tier's /init: the host's root (read-only), the source tree
# (read-only) and the build trees over 9p, a chroot into the host's root for
# the rows, then power off.
#   /init SOURCE_DIR BUILD_DIR KERNEL_ROOT ROWS [WINDOWS_BUILD_DIR]   (after the kernel's --)
source=$1 build=$2 kernel=$3 only=$4 windows=$5
/bin/busybox --install -s /bin && export PATH=/bin
mount -t proc proc /proc && mount -t sysfs sysfs /sys && mount -t devtmpfs devtmpfs /dev
for module in /modules/*.ko; do insmod $module; done  # numbered in their order
# Nothing changes the trees from outside while the guest runs: cache them.
options=trans=virtio,version=9p2000.L,msize=262144,cache=loose
# share TAG DIR [ro]: over the guest's own /tmp too, hence after it.
share() { mkdir -p "/mnt$2" && mount -t 9p -o $options${3:+,ro} "$1" "/mnt$2"; }
if mount -t 9p -o $options,ro hostroot /mnt; then
  mount -t proc proc /mnt/proc && mount -t sysfs sysfs /mnt/sys && mount -t devtmpfs devtmpfs /mnt/dev
  mkdir -p /mnt/dev/shm && ln -s /proc/self/fd /mnt/dev/fd
  for dir in /tmp /run /var/lib/xkb /dev/shm; do mount -t tmpfs -o mode=1777 tmpfs "/mnt$dir"; done
  share source "$source" ro && share build "$build" && { [ -z "$windows" ] || share windows "$windows"; } &&
    PATH=/usr/sbin:/usr/bin:/sbin:/bin chroot /mnt /bin/bash "$source/tests/kernel/guest_rows.sh" "$build" "$kernel" "$only" "$windows"
fi
sync
poweroff -f
