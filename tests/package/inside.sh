# The package test's clean root, sourced by scripts/package-test.sh --inside in its own mount,
# process and network namespaces: an overlay over / (changes go to the temporary folder), the
# host's /dev and /sys read-only, fresh /proc, /tmp, /run, /dev/shm and /dev/pts. The network
# namespace has only loopback, so apt cannot download anything.
set -euo pipefail
R="$PACKAGE_TEST_WORK/root"
mount --make-rprivate /
mount -t overlay overlay -o "lowerdir=/,upperdir=$PACKAGE_TEST_WORK/upper,workdir=$PACKAGE_TEST_WORK/work" "$R"
mount -t proc proc "$R/proc"
mount --bind /dev "$R/dev"
mount -o remount,bind,ro "$R/dev"
mount -t tmpfs -o mode=1777 tmpfs "$R/dev/shm"
mount -t devpts -o newinstance,ptmxmode=0666 devpts "$R/dev/pts"
mount --bind /sys "$R/sys"
mount -o remount,bind,ro "$R/sys"
mount -t tmpfs -o mode=1777 tmpfs "$R/tmp"
mount -t tmpfs -o mode=755 tmpfs "$R/run"
mkdir -p "$R/srv/package-test"
mount --bind "$PACKAGE_TEST_OUT" "$R/srv/package-test"
cp "$ROOT/tests/package/cdp_eval.py" "$ROOT/tests/package/in_root.sh" "$PACKAGE_TEST_OUT/"
exec chroot "$R" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
    VERSION="$PACKAGE_TEST_VERSION" NEXT_VERSION="$PACKAGE_TEST_NEXT_VERSION" \
    bash /srv/package-test/in_root.sh
