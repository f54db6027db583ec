#!/usr/bin/env bash
# A stand-in vendor service for demos: nginx on 127.0.0.1 answering the update check with a reply
# file and serving package files, from a temporary folder that goes away with it. Ctrl+C stops it.
#
#   scripts/vendor-service.sh --reply reply.json --packages DIR [--port 8377]
#
# Then start vexa with the printed VEXA_UPDATE_SERVICE. "{{service}}" in the reply file reads as the
# service's own address, e.g. "clientPackage": "{{service}}/packages/client.pkg". Every request
# is logged as one JSON line (request line, Range header) to the access.log it names.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
reply=""
packages=""
port=8377

usage() {
    sed -n '2,9p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
    exit 2
}

while [ $# -gt 0 ]; do
    case "$1" in
        --reply) reply="${2:-}"; shift 2 ;;
        --packages) packages="${2:-}"; shift 2 ;;
        --port) port="${2:-}"; shift 2 ;;
        -h|--help) usage ;;
        *) echo "unknown argument: $1" >&2; usage ;;
    esac
done
[ -f "$reply" ] || { echo "no reply file: '$reply'" >&2; usage; }
[ -d "$packages" ] || { echo "no package folder: '$packages'" >&2; usage; }
[[ "$port" =~ ^[0-9]+$ ]] || { echo "not a port: '$port'" >&2; usage; }

nginx="$(command -v nginx || true)"
[ -n "$nginx" ] || [ ! -x /usr/sbin/nginx ] || nginx=/usr/sbin/nginx
[ -n "$nginx" ] || { echo "nginx is not installed (apt-get install nginx)" >&2; exit 1; }

prefix="$(mktemp -d "${TMPDIR:-/tmp}/vexa-vendor-XXXXXX")"
# Started by root, the workers would run as nobody and could not read the private folder.
user=""
[ "$(id -u)" -ne 0 ] || user="user root;"

escape() { printf '%s' "$1" | sed -e 's/[\/&|]/\\&/g'; }
sed -e "s|@USER@|$(escape "$user")|" \
    -e "s|@PREFIX@|$(escape "$prefix")|g" \
    -e "s|@PORT@|$port|g" \
    -e "s|@REPLY@|$(escape "$(realpath "$reply")")|g" \
    -e "s|@PACKAGES@|$(escape "$(realpath "$packages")")|g" \
    "$ROOT/tests/support/vendor-service.conf" > "$prefix/nginx.conf"

if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
    echo "port $port is taken; choose another with --port" >&2
    rm -rf "$prefix"
    exit 1
fi

nginx_pid=""
cleanup() {
    if [ -n "$nginx_pid" ] && kill -0 "$nginx_pid" 2>/dev/null; then
        kill -TERM "$nginx_pid" 2>/dev/null || true
        wait "$nginx_pid" 2>/dev/null || true
    fi
    rm -rf "$prefix"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$nginx" -p "$prefix/" -c "$prefix/nginx.conf" -e "$prefix/error.log" -g 'daemon off;' &
nginx_pid=$!

for _ in $(seq 100); do
    if ! kill -0 "$nginx_pid" 2>/dev/null; then
        echo "nginx did not start:" >&2
        cat "$prefix/error.log" >&2 || true
        exit 1
    fi
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
        break
    fi
    sleep 0.1
done

echo "Vendor service at http://127.0.0.1:$port"
echo "  update check: http://127.0.0.1:$port/api/system/upgrade  (reply: $reply)"
echo "  packages:     http://127.0.0.1:$port/packages/<name>  (from: $packages)"
echo "  access log:   $prefix/access.log"
echo "Start vexa with: VEXA_UPDATE_SERVICE=http://127.0.0.1:$port scripts/run.sh"
echo "Ctrl+C stops the service."
wait "$nginx_pid"
