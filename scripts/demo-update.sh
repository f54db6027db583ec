#!/usr/bin/env bash
# The online update, tried by hand: builds a page package that changes the About screen, serves
# it from a stand-in vendor service on 127.0.0.1, and starts vexa pointed at it.
#
#   scripts/demo-update.sh [--port 8377]
#
# vexa runs from a copy of build/app in a temporary folder (so a build cannot undo the update).
# The start-up check finds the offer and the update window appears; press Update (About → Check
# for updates asks again). The page files land in view/ at once: press "Reload page" on About,
# and it shows the new page edition with its note. When vexa quits, the demo ends.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

port=8377
while [ $# -gt 0 ]; do
    case "$1" in
        --port) port="${2:-}"; shift 2 ;;
        -h|--help) sed -n '2,10p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
done

install_packages
build
ensure_runtime_dir
ensure_display

work="$(mktemp -d "${TMPDIR:-/tmp}/vexa-demo-XXXXXX")"
service_pid=""
cleanup() {
    if [ -n "$service_pid" ]; then
        kill "$service_pid" 2>/dev/null || true
        wait "$service_pid" 2>/dev/null || true
    fi
    stop_display
    rm -rf "$work"
}
trap cleanup EXIT

# The package: the page's edition file, as the vendor would ship a new page.
mkdir -p "$work/page/js" "$work/packages"
cat > "$work/page/js/edition.js" <<'EOF'
// The edition of these page files (written by scripts/demo-update.sh).
(function (vexa) {
  'use strict';

  vexa.edition = Object.freeze({
    version: '1.1.0-demo',
    note: 'This page arrived through the online update: downloaded, checked and installed into view/.',
  });
})(window.vexaModules = window.vexaModules || {});
EOF
"$BUILD/tools/mkupdate" --prefix html --version 1.1.0-demo "$work/page" "$work/packages/html-1.1.0-demo.pkg"

# Offers the page package to every check.
cat > "$work/reply.json" <<'EOF'
{"code":0,"ret":{"type":"0","deployment":"html","devicePackage":"{{service}}/packages/html-1.1.0-demo.pkg",
 "deviceVersion":"1.1.0-demo","notes":"About shows the edition of the pages it runs."}}
EOF

"$ROOT/scripts/vendor-service.sh" --reply "$work/reply.json" --packages "$work/packages" --port "$port" \
    > "$work/service.txt" 2>&1 &
service_pid=$!
for _ in $(seq 50); do
    grep -q '^Vendor service at' "$work/service.txt" 2>/dev/null && break
    kill -0 "$service_pid" 2>/dev/null || { cat "$work/service.txt" >&2; exit 1; }
    sleep 0.1
done
grep -q '^Vendor service at' "$work/service.txt" || { cat "$work/service.txt" >&2; exit 1; }

echo "Vendor service on http://127.0.0.1:$port offers the page package 1.1.0-demo."
echo "vexa starts now; the update window appears at once (the start-up check finds the offer),"
echo "or later from About → Check for updates. Press Update, then Reload in the same window."
if [ -n "$STARTED_DISPLAY" ]; then
    echo "No display was set: vexa runs on the virtual display $STARTED_DISPLAY"
    echo "(look with: DISPLAY=$STARTED_DISPLAY import -window root shot.png)."
fi

cp -a "$BUILD/app" "$work/app"
rm -f "$work/app"/*.log
cd "$work/app"
status=0
VEXA_UPDATE_SERVICE="http://127.0.0.1:$port" ./vexa || status=$?
if cmp -s "$work/page/js/edition.js" "$work/app/view/js/edition.js"; then
    echo "The page package was installed into the demo's view/ folder."
else
    echo "The page package was not installed (see $work/app/web.log before this script ends)."
fi
exit $status
