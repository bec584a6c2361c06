#!/bin/sh
# The Debian package as a user meets it: built with CPack, installed with dpkg
# on this machine, run from /usr/bin by an unprivileged user whose home is a
# fresh folder, then removed again.
#
#   check-package.sh BUILD_DIR [CPACK]
#
# Needs root and dpkg; exits with 77 (skipped) without them, or when a karvelo
# package is installed already, which it must not replace or remove. Whatever
# happens, the package, the throwaway user and the simulator go at the end.
# The sh -c scripts below take their values as arguments, not expanded here.
# shellcheck disable=SC2016
set -eu

BUILD=$(cd "$1" && pwd)
CPACK=${2:-cpack}
SKIP=77

skip() {
    echo "check-package: skipped: $*"
    exit $SKIP
}

[ "$(id -u)" -eq 0 ] || skip "needs root (it installs the package)"
command -v dpkg >/dev/null 2>&1 || skip "no dpkg"
command -v dpkg-deb >/dev/null 2>&1 || skip "no dpkg-deb"

# One package test at a time on this machine (dpkg has one database).
exec 9>/run/lock/karvelo-package-test.lock
flock -w 600 9 || skip "another package test holds the lock"
if dpkg-query -W -f='${Status}' karvelo 2>/dev/null | grep -q "installed"; then
    skip "a karvelo package is installed already"
fi

failures=0
fail() {
    echo "check-package: FAIL: $*"
    failures=$((failures + 1))
}

WORK=$(mktemp -d /tmp/karvelo-package.XXXXXX)
chmod 755 "$WORK"
USER_NAME=""
INSTALLED=0
SIM_PID=""
cleanup() {
    status=$?
    if [ -n "$SIM_PID" ]; then kill "$SIM_PID" 2>/dev/null || true; fi
    if [ "$INSTALLED" -eq 1 ]; then dpkg -r karvelo >/dev/null 2>&1 || true; fi
    if [ -n "$USER_NAME" ]; then userdel "$USER_NAME" >/dev/null 2>&1 || true; fi
    rm -rf "$WORK"
    exit $status
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# --- build ---------------------------------------------------------------
"$CPACK" --config "$BUILD/CPackConfig.cmake" -B "$WORK/deb" >"$WORK/cpack.log" 2>&1 || {
    cat "$WORK/cpack.log"
    echo "check-package: FAIL: cpack"
    exit 1
}
DEB=$(ls "$WORK"/deb/karvelo_*.deb)
echo "check-package: built $(basename "$DEB")"

# Every file the package promises, nothing of the build or the tests.
dpkg-deb -c "$DEB" | awk '{print $NF}' | sed 's|^\./|/|' >"$WORK/contents"
for f in /usr/bin/karvelo \
    /usr/lib/karvelo/sim/karvelo-serial-sim \
    /usr/lib/karvelo/sim/libftd2xx.so /usr/lib/karvelo/sim/libik220.so \
    /usr/lib/karvelo/sim/libibr_ddk.so /usr/lib/karvelo/sim/libcbw.so \
    /usr/lib/karvelo/sim/liborbit_if.so /usr/lib/karvelo/sim/libmarposs_zento.so \
    /usr/share/applications/karvelo.desktop \
    /usr/share/icons/hicolor/64x64/apps/karvelo.png \
    /usr/share/icons/hicolor/256x256/apps/karvelo.png \
    /usr/share/man/man1/karvelo.1.gz \
    /usr/share/doc/karvelo/README.md \
    /usr/share/doc/karvelo/99-karvelo-ftdi.rules; do
    grep -qx "$f" "$WORK/contents" || fail "the package lacks $f"
done
if grep -E 'test|bench|fuzz|\.a$|/include/' "$WORK/contents"; then
    fail "the package holds build or test files (above)"
fi
DEPENDS=$(dpkg-deb -f "$DEB" Depends)
case "$DEPENDS" in
*-dev* | *googletest* | *gtest* | *benchmark* | *clang* | *xvfb*)
    fail "build or test packages among the dependencies: $DEPENDS"
    ;;
esac

# --- install -------------------------------------------------------------
INSTALLED=1
dpkg -i "$DEB" >"$WORK/dpkg.log" 2>&1 || {
    cat "$WORK/dpkg.log"
    echo "check-package: FAIL: dpkg -i (missing runtime packages?)"
    exit 1
}
[ -x /usr/bin/karvelo ] || fail "/usr/bin/karvelo is not there after dpkg -i"
if [ -e /usr/lib/libftd2xx.so ] || ldconfig -p | grep -q 'karvelo/sim'; then
    fail "a simulator is on the library path"
fi

# Each library the installed files link directly comes from a package that
# the package depends on.
for f in /usr/bin/karvelo /usr/lib/karvelo/sim/*; do
    for lib in $(readelf -d "$f" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
        path=$(ldd "$f" | awk -v l="$lib" '$1 == l {print $3}')
        [ -n "$path" ] || {
            fail "$f: $lib not found"
            continue
        }
        owner=""
        for p in "$path" "$(readlink -f "$path")" "${path#/usr}" "/usr${path}"; do
            owner=$(dpkg -S "$p" 2>/dev/null | head -n1 | cut -d: -f1) && [ -n "$owner" ] && break
        done
        [ -n "$owner" ] || {
            fail "$f: $lib ($path) belongs to no package"
            continue
        }
        echo ", $DEPENDS," | grep -q "[, ]${owner}[ ,(]" || fail "$f needs $lib from $owner, not in Depends: $DEPENDS"
    done
done

# --- run as a user -----------------------------------------------------------
USER_HOME="$WORK/home"
CWD="$WORK/elsewhere"
BENCH="$WORK/bench"
mkdir -p "$USER_HOME" "$CWD" "$BENCH"
candidate="karvelopkg$$"
if useradd -M -d "$USER_HOME" -s /bin/sh -U "$candidate" >/dev/null 2>&1; then
    USER_NAME=$candidate
    chown "$USER_NAME:" "$USER_HOME" "$CWD" "$BENCH"
    as_user() { runuser -u "$USER_NAME" -- env -i HOME="$USER_HOME" PATH=/usr/bin:/bin LANG=C.UTF-8 "$@"; }
    echo "check-package: running as $USER_NAME, home $USER_HOME"
else
    # No user database to add to (a container): root with a fresh home.
    as_user() { env -i HOME="$USER_HOME" PATH=/usr/bin:/bin LANG=C.UTF-8 "$@"; }
    echo "check-package: useradd failed; running as root with home $USER_HOME"
fi
in_cwd() { as_user sh -c 'cd "$1" && shift && exec "$@"' sh "$CWD" "$@"; }

out=$(in_cwd karvelo --version 2>&1) || fail "karvelo --version exited with $?: $out"
echo "$out" | grep -q '^KARVELO V' || fail "karvelo --version printed: $out"

CONFIG="$USER_HOME/.config/karvelo"
out=$(in_cwd karvelo --batch --show-config 2>&1) || fail "karvelo --show-config exited with $?: $out"
echo "$out" | grep -qx "ConfigDir=$CONFIG/" ||
    fail "ConfigDir is not the user's configuration folder: $(echo "$out" | grep '^ConfigDir=' || echo none)"
[ -d "$CONFIG" ] || fail "$CONFIG was not created on the first start"
if [ -n "$(ls -A "$CWD")" ]; then fail "files in the working folder: $(ls -A "$CWD")"; fi

# One probe against the installed serial simulator.
as_user sh -c 'echo $$ > "$1/sim.pid"; exec /usr/lib/karvelo/sim/karvelo-serial-sim \
    --instrument "link=$1/ttyGauge,type=1,values=12.345" > "$1/sim.out" 2> "$1/sim.log"' \
    sh "$BENCH" &
ready=0
for _ in $(seq 100); do
    if grep -qx READY "$BENCH/sim.out" 2>/dev/null; then
        ready=1
        break
    fi
    sleep 0.1
done
SIM_PID=$(cat "$BENCH/sim.pid" 2>/dev/null || true)
if [ "$ready" -eq 1 ]; then
    as_user mkdir -p "$CONFIG"
    as_user sh -c 'printf "%s\n" "[PORTS]" "COM3=$2" "[WINDOW]" "maxno=1" "[DEVICE1]" "typ=1" "port=3" \
        > "$1/karvelo.cfg"' sh "$CONFIG" "$BENCH/ttyGauge"
    out=$(in_cwd karvelo --batch --probe 1 2>&1) || fail "karvelo --probe 1 exited with $?: $out"
    echo "$out" | grep -qx 'Slot1.Value=12.345' || {
        fail "the probe did not read 12.345 from the simulator"
        echo "$out"
        cat "$BENCH/sim.log"
    }
else
    fail "/usr/lib/karvelo/sim/karvelo-serial-sim did not get ready"
    cat "$BENCH/sim.log" 2>/dev/null || true
fi
if [ -n "$SIM_PID" ]; then
    kill "$SIM_PID" 2>/dev/null || true
    wait 2>/dev/null || true
    SIM_PID=""
fi

# The station itself, as installed: what it saves at its end (the set, the
# window position, the record texts into the set's file) lands in the user's
# configuration folder, and nothing beside the program.
as_user sh -c 'printf "%s\n" "[MAIN]" "cfg=2" >> "$1/karvelo.cfg"' sh "$CONFIG"
as_user sh -c 'cd "$1" && echo $$ > "$2/station.pid" && exec karvelo -platform offscreen --batch \
    > "$2/station.out" 2> "$2/station.err"' sh "$CWD" "$BENCH" &
sleep 3
STATION_PID=$(cat "$BENCH/station.pid" 2>/dev/null || true)
if [ -n "$STATION_PID" ]; then
    kill -TERM "$STATION_PID" 2>/dev/null || true
    for _ in $(seq 100); do
        kill -0 "$STATION_PID" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$STATION_PID" 2>/dev/null || true
fi
wait 2>/dev/null || true
grep -q '^X=' "$CONFIG/karvelo.cfg" ||
    fail "the station's end did not save the window position in $CONFIG/karvelo.cfg: $(cat "$BENCH/station.err" 2>/dev/null)"
grep -q '^cfg=2' "$CONFIG/karvelo.cfg" || fail "the set is no longer 2 in $CONFIG/karvelo.cfg"
[ -f "$CONFIG/karvelo2.cfg" ] || fail "the texts of set 2 did not land in $CONFIG/karvelo2.cfg"
for f in /usr/bin/karvelo.cfg /usr/bin/karvelo2.cfg; do
    [ ! -e "$f" ] || fail "$f was written beside the installed program"
done

# --- remove --------------------------------------------------------------
dpkg -r karvelo >"$WORK/dpkg.log" 2>&1 || {
    cat "$WORK/dpkg.log"
    fail "dpkg -r karvelo"
}
INSTALLED=0
[ ! -e /usr/bin/karvelo ] || fail "/usr/bin/karvelo is still there after dpkg -r"
[ ! -e /usr/lib/karvelo ] || fail "/usr/lib/karvelo is still there after dpkg -r"

if [ "$failures" -ne 0 ]; then
    echo "check-package: $failures failure(s)"
    exit 1
fi
echo "check-package: the package builds, installs, runs and removes cleanly"
