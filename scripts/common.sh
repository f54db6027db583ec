# Shared by run.sh and test.sh: packages, build, and a display when there is none.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${VEXA_BUILD_DIR:-$ROOT/build}"

install_packages() {
    local wanted missing=()
    wanted=$(grep -v '^#' "$ROOT/scripts/packages.txt" | tr -s ' \n' ' ')
    for p in $wanted; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Test tooling from npm (tests/tools): installed into the build folder, exactly as locked.
install_test_tools() {
    local dir="$BUILD/npm"
    [ -f "$dir/node_modules/axe-core/axe.min.js" ] && cmp -s "$ROOT/tests/tools/package-lock.json" "$dir/package-lock.json" && return 0
    if ! command -v npm >/dev/null; then
        local sudo=""
        [ "$(id -u)" -ne 0 ] && sudo="sudo"
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends npm >/dev/null
    fi
    mkdir -p "$dir"
    cp "$ROOT/tests/tools/package.json" "$ROOT/tests/tools/package-lock.json" "$dir/"
    (cd "$dir" && npm ci --no-audit --no-fund --loglevel=error)
}

build() {
    cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE="${VEXA_BUILD_TYPE:-RelWithDebInfo}" "$@" >/dev/null
    cmake --build "$BUILD" -j"$(nproc)"
}

# A real folder (not a link) of this user that nobody else may enter.
is_private_dir() {
    [ -d "$1" ] && [ ! -L "$1" ] && [ "$(stat -c %u "$1")" = "$(id -u)" ] \
        && [ $((0$(stat -c %a "$1") & 077)) -eq 0 ]
}

# Qt and QtWebEngine want a private runtime folder. In the shared temporary folder another user
# may have made ours first (or linked it elsewhere): such a folder is never used.
ensure_runtime_dir() {
    if [ -n "${XDG_RUNTIME_DIR:-}" ] && [ -w "${XDG_RUNTIME_DIR}" ] && is_private_dir "${XDG_RUNTIME_DIR}/."; then
        return 0
    fi
    local dir="${TMPDIR:-/tmp}/vexa-runtime-$(id -u)"
    mkdir -m 700 "$dir" 2>/dev/null || true
    if ! is_private_dir "$dir"; then
        dir="$(mktemp -d "${TMPDIR:-/tmp}/vexa-runtime-$(id -u)-XXXXXX")"
    fi
    export XDG_RUNTIME_DIR="$dir"
}

# Starts Xvfb with a window manager when no display is set; the caller's EXIT trap stops them.
STARTED_DISPLAY=""
ensure_display() {
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
        return 0
    fi
    # Xvfb picks a free display number itself and writes it to the file once it takes
    # connections: it knows a stale lock (its process gone) from a live one, which a look at /tmp
    # cannot.
    local number_file n=""
    number_file="$(mktemp "${TMPDIR:-/tmp}/vexa-display-XXXXXX")"
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$number_file" >/dev/null 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 100); do
        n="$(tr -dc 0-9 < "$number_file")"
        [ -n "$n" ] && break
        kill -0 "$XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    rm -f "$number_file"
    [ -n "$n" ] || { echo "Xvfb did not start" >&2; return 1; }
    export DISPLAY=":$n"
    fluxbox >/dev/null 2>&1 &
    WM_PID=$!
    sleep 0.5
    STARTED_DISPLAY=":$n"
}

stop_display() {
    [ -n "${WM_PID:-}" ] && kill "$WM_PID" 2>/dev/null || true
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
}
