# The package test inside the clean root (as root there): install, start as a normal user, write
# a setting, upgrade, start again, remove. Files for people to look at go to /srv/package-test.
set -euo pipefail
S=/srv/package-test
USER_NAME=padtester
HOME_DIR=/home/$USER_NAME
FOLDER=$HOME_DIR/.local/share/vexa
PORT=9222
step() { echo "== $*"; }
fail() { echo "package-test: $*" >&2; [ -f $S/vexa.out ] && tail -30 $S/vexa.out >&2; exit 1; }
elapsed() { echo "   ($(( $(date +%s) - START )) s)"; }
START=$(date +%s)

ip link set lo up
export DEBIAN_FRONTEND=noninteractive

step "apt installs the package (offline: loopback is the only network)"
apt-get install -y -q $S/vexa-first.deb > $S/apt-install.txt 2>&1 || { cat $S/apt-install.txt; fail "install"; }
[ "$(dpkg-query -W -f='${Version}' vexa)" = "$VERSION" ] || fail "installed version"
for f in /usr/bin/vexa /usr/lib/vexa/vexa /usr/lib/vexa/Updater /usr/lib/vexa/CrashReporter /usr/lib/vexa/padctl \
         /usr/lib/vexa/libpadio.so /usr/lib/vexa/view/index.html /usr/lib/vexa/Resources/profiles/conf.xml \
         /usr/share/applications/com.parvex.vexa.desktop /usr/share/icons/hicolor/48x48/apps/vexa.png \
         /usr/lib/udev/rules.d/70-vexa.rules /usr/share/man/man1/vexa.1.gz; do
    [ -e "$f" ] || fail "$f is not installed"
done
elapsed

useradd -m -s /bin/bash $USER_NAME
mkdir -m 700 /tmp/run-$USER_NAME
chown $USER_NAME: /tmp/run-$USER_NAME
# setpriv executes the command in place: started in the background as a simple command, the
# process is the program itself, the one to signal and wait for.
AS_USER=(setpriv --reuid=$USER_NAME --regid=$USER_NAME --init-groups -- env -i HOME=$HOME_DIR USER=$USER_NAME
         LOGNAME=$USER_NAME PATH=/usr/bin:/bin DISPLAY=:7 XDG_RUNTIME_DIR=/tmp/run-$USER_NAME LANG=C.UTF-8
         QTWEBENGINE_REMOTE_DEBUGGING=127.0.0.1:$PORT)
as_user() { "${AS_USER[@]}" "$@"; }

step "vexa --version and --help answer as the user"
as_user vexa --version | grep -qx "vexa ${VERSION%-*}" || fail "--version: $(as_user vexa --version 2>&1)"
as_user vexa --help | grep -q -- "-autostart" || fail "--help"
[ -x $FOLDER/vexa ] || fail "the launcher made no folder for the user"

Xvfb :7 -screen 0 1280x800x24 -nolisten tcp > /dev/null 2>&1 &
for _ in $(seq 50); do [ -e /tmp/.X11-unix/X7 ] && break; sleep 0.1; done

EXEC=$(sed -n 's/^Exec=//p' /usr/share/applications/com.parvex.vexa.desktop)
VEXA_PID=
start_vexa() {
    "${AS_USER[@]}" sh -c "exec $EXEC" >> $S/vexa.out 2>&1 &
    VEXA_PID=$!
    # The page from the user's folder, drawn and scriptable.
    page=$(python3 $S/cdp_eval.py $PORT --until --timeout 120 \
        "document.readyState === 'complete' && typeof cefQuery === 'function' && document.body.innerText.trim().length > 0 && location.href") \
        || fail "the page did not come up"
    [ "$page" = "\"file://$FOLDER/view/index.html\"" ] || fail "the page came from $page"
    sleep 1
}
stop_vexa() {
    kill -TERM $VEXA_PID
    for _ in $(seq 100); do kill -0 $VEXA_PID 2>/dev/null || break; sleep 0.1; done
    ! kill -0 $VEXA_PID 2>/dev/null || fail "vexa did not end on SIGTERM"
    wait $VEXA_PID || true
    # Ended for the launcher too: the lock that keeps it from changing a running folder is free.
    flock -n $FOLDER/vexa.lock true || fail "vexa.lock is still held after vexa ended"
}
query() {
    python3 $S/cdp_eval.py $PORT "new Promise((ok, no) => cefQuery({request: JSON.stringify($1), onSuccess: ok, onFailure: (code, text) => no(new Error(text))}))"
}

step "the user starts vexa from its desktop entry ($EXEC)"
start_vexa
DISPLAY=:7 import -window root $S/first-start.png
elapsed

step "the program writes a setting"
[ "$(query '{funcname: "setConf", confKey: "autoStart", confValue: "true"}')" = '"modify conf sucess"' ] || fail "setConf"
grep -q 'autoStart="true"' $FOLDER/Resources/profiles/conf.xml || fail "the setting is not in the user's file"
grep -qx 'Exec="/usr/bin/vexa" -autostart' $HOME_DIR/.config/autostart/vexa.desktop || fail "the autostart entry does not name the launcher"
as_user padctl list | grep -q 5E1C7A92 || fail "padctl from /usr/bin does not reach the virtual pad"
stop_vexa

step "apt upgrades to $NEXT_VERSION"
apt-get install -y -q $S/vexa-next.deb > $S/apt-upgrade.txt 2>&1 || { cat $S/apt-upgrade.txt; fail "upgrade"; }
[ "$(dpkg-query -W -f='${Version}' vexa)" = "$NEXT_VERSION" ] || fail "upgraded version"

step "vexa starts again: the setting is kept, the new package is in the user's folder"
start_vexa
conf=$(query '{funcname: "getConf"}')
echo "$conf" | grep -q '\\"autoStart\\":\\"true\\"' || fail "the setting was lost: $conf"
echo "$conf" | grep -q '\\"packageTest\\":\\"added\\"' || fail "the new package's setting was not merged: $conf"
[ "$(cat $FOLDER/package-version)" = "$NEXT_VERSION" ] || fail "the user's folder was not refreshed"
[ -f $FOLDER/view/package-test.txt ] || fail "the new package's page file is missing"
DISPLAY=:7 import -window root $S/after-upgrade.png
stop_vexa
cp $FOLDER/web.log $S/web.log
(cd $FOLDER && find . -printf '%M %u %p\n' | sort -k3) > $S/user-folder.txt
elapsed

step "apt removes the package; the user's folder stays"
apt-get remove -y -q vexa > $S/apt-remove.txt 2>&1 || { cat $S/apt-remove.txt; fail "remove"; }
[ ! -e /usr/bin/vexa ] && [ ! -e /usr/lib/vexa ] || fail "files left behind: $(ls /usr/lib/vexa 2>&1)"
[ -f $FOLDER/Resources/profiles/conf.xml ] || fail "the user's settings went with the package"
elapsed
