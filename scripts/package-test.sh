#!/usr/bin/env bash
# Builds the Debian package and uses it as a fresh machine would: apt installs it into a clean
# root, a normal user starts vexa from its desktop entry under Xvfb and the page comes up, a
# setting written by the program survives an upgrade to a rebuilt package of a higher version,
# and apt removes it again.
#
# Nothing of this machine changes: the clean root is an overlay over / whose changes go to a
# temporary folder, inside private mount, process and network namespaces (run as root). The
# package, its lintian report and the screenshots stay in <build>/package-test/.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

if [ "${1:-}" = "--inside" ]; then
    source "$ROOT/tests/package/inside.sh"
    exit
fi

[ "$(id -u)" -eq 0 ] || { echo "package-test: run as root (it mounts an overlay in a private namespace)" >&2; exit 1; }
install_packages
build
cmake --build "$BUILD" --target package -j2 >/dev/null

OUT="$BUILD/package-test"
rm -rf "$OUT"
mkdir -p "$OUT"
WORK="$(mktemp -d "${TMPDIR:-/tmp}/vexa-package-test-XXXXXX")"
trap 'rm -rf "$WORK"' EXIT

version=$(cat "$BUILD/package/package-version")
deb="$BUILD/vexa_${version}_$(dpkg --print-architecture).deb"
cp "$deb" "$OUT/vexa-first.deb"

echo "== lintian, appstream, desktop entry"
# Every error and warning is either mended or explained in packaging/linux/lintian-overrides.
lintian --fail-on error,warning "$deb" 2>&1 | tee "$OUT/lintian.txt"
appstreamcli validate --no-net "$BUILD/package/com.parvex.vexa.metainfo.xml"
desktop-file-validate "$ROOT/packaging/linux/com.parvex.vexa.desktop"

# The upgrade: the same package rebuilt with a higher revision. Its settings file brings a new
# setting, and its page a new file, so that both the merge and the refresh show.
next="$WORK/next"
dpkg-deb -R "$deb" "$next"
# The package's application folder is build/app's: the Linux files over the page's own (the
# settings file as the build filled it in).
for f in view/xml/configuration.xml Resources/profiles/conf.xml; do
    linux=$(find "$ROOT/data/view-linux" "$BUILD/data/resources-linux" -path "*/${f#*/}" | head -1)
    cmp "$next/usr/lib/vexa/$f" "$linux" || { echo "package-test: $f is not the Linux one" >&2; exit 1; }
done
# One version: the package's, the program's (checked inside) and the shipped settings' "version".
grep -q "<client [^>]*version=\"${version%-*}\"" "$next/usr/lib/vexa/Resources/profiles/conf.xml" ||
    { echo "package-test: the settings file does not record version ${version%-*}" >&2; exit 1; }
next_version="${version%-*}-$(( ${version##*-} + 1 ))"
sed -i "s/^Version: .*/Version: $next_version/" "$next/DEBIAN/control"
echo "$next_version" > "$next/usr/lib/vexa/package-version"
sed -i 's/<client /<client packageTest="added" /' "$next/usr/lib/vexa/Resources/profiles/conf.xml"
echo "$next_version" > "$next/usr/lib/vexa/view/package-test.txt"
(cd "$next" && find usr -type f -print0 | sort -z | xargs -0 md5sum > DEBIAN/md5sums)
dpkg-deb --root-owner-group -b "$next" "$OUT/vexa-next.deb" >/dev/null

mkdir -p "$WORK/upper" "$WORK/work" "$WORK/root"
unshare --mount --pid --net --fork --kill-child \
    env PACKAGE_TEST_WORK="$WORK" PACKAGE_TEST_OUT="$OUT" PACKAGE_TEST_VERSION="$version" \
        PACKAGE_TEST_NEXT_VERSION="$next_version" \
    bash "$ROOT/scripts/package-test.sh" --inside
echo "package-test: passed (screenshots in $OUT)"
