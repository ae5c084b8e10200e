#!/bin/sh
# The Debian packages a part of the work needs, installed when missing (as
# root), else the command to run printed:
#   tools/setup.sh build   compiler, CMake, SQLite: make
#   tools/setup.sh demo    the build's, and gnuplot for the plots: make demo
#   tools/setup.sh test    the build's, and every test's: make test
# Packages a test can do without (the test then skips, saying why) are
# installed as root, and only named to a user; a missing required package
# ends a user's set-up with status 1.
set -u
level=${1:-build}

required=""
optional=""
need() { required="$required $1"; }
want() { optional="$optional $1"; }

# The system's leap-second table (tzdata): missing, or past the expiry date of
# its "#@" line (NTP seconds).
leap=/usr/share/zoneinfo/leap-seconds.list
leap_stale() {
    expires=$(sed -n 's/^#@[[:space:]]*\([0-9][0-9]*\).*/\1/p' "$leap" 2>/dev/null)
    [ -z "$expires" ] || [ $(( $(date +%s) + 2208988800 )) -gt "$expires" ]
}

command -v g++   >/dev/null || need g++
command -v cmake >/dev/null || need cmake
[ -f /usr/include/sqlite3.h ] || need libsqlite3-dev
case "$level" in
build) ;;
demo)
    command -v gnuplot >/dev/null || want gnuplot-nox ;;
test)
    [ -f /usr/include/gtest/gtest.h ] || need libgtest-dev
    command -v gnuplot  >/dev/null || need gnuplot-nox
    command -v parallel >/dev/null || need parallel
    [ -x /usr/bin/python3 ] || need python3
    command -v groff  >/dev/null || want groff
    command -v man    >/dev/null || want man-db
    command -v strace >/dev/null || want strace
    /usr/bin/python3 -c 'import pyorbital' 2>/dev/null || want python3-pyorbital
    /usr/bin/python3 -c 'import sgp4'      2>/dev/null || want python3-sgp4
    /usr/bin/python3 -c 'import skyfield'  2>/dev/null || want python3-skyfield
    [ -x /usr/bin/chromium ] || want chromium
    ! leap_stale || want tzdata ;;
*)
    echo "setup.sh: unknown part \"$level\" (build, demo or test)" >&2; exit 2 ;;
esac

if [ -n "$required$optional" ]; then
    if [ "$(id -u)" = 0 ]; then
        # Another installation may hold the package lock: wait for it (up to
        # ten minutes), saying so, since apt-get update fails at once on a held
        # lock; apt-get then waits for the dpkg lock itself.
        i=0
        while lslocks -n -o PATH 2>/dev/null | grep -qxE '/var/lib/(dpkg/lock(-frontend)?|apt/lists/lock)'; do
            [ $i != 0 ] || echo "set-up: another installation holds the package lock; waiting for it (up to 10 minutes)"
            i=$((i + 1)); [ $i -lt 120 ] || break
            sleep 5
        done
        echo "set-up for $level: installing$required$optional"
        apt_get="apt-get -o DPkg::Lock::Timeout=600"
        DEBIAN_FRONTEND=noninteractive $apt_get update &&
            DEBIAN_FRONTEND=noninteractive $apt_get install -y $required $optional ||
            { echo "set-up for $level: the installation failed" >&2; exit 1; }
    elif [ -n "$required" ]; then
        echo "missing for $level:$required; run: sudo apt-get update && sudo apt-get install -y$required$optional" >&2
        exit 1
    else
        case "$level" in
        demo) why="the demo runs without its plots" ;;
        *) why="the tests that need them skip, saying why" ;;
        esac
        echo "optional for $level:$optional ($why); run: sudo apt-get update && sudo apt-get install -y$optional"
    fi
fi
if [ "$level" = test ] && leap_stale; then
    echo "warning: $leap is missing or has expired and no newer tzdata is installed: the tools warn of it and civil UTC may miss a new leap second"
fi
exit 0
