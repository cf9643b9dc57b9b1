#!/usr/bin/env bash
# Checks that each of README.md's two commands works by itself on a fresh Debian 12 system: each one
# runs, as root, in its own freshly bootstrapped minimal system (debootstrap --variant=minbase) that
# has nothing but this machine's apt sources, on a clean clone of the repository's HEAD.
#
#   sudo scripts/check-fresh-system.sh [run] [test]      (both when none is named)
#
# The run command must build the program and show its window: the window is shown on a private Xvfb
# display of this machine, then the program is asked to quit as the system would (SIGTERM) and the
# command must end with status 0. The test command must end with status 0.
# Needs debootstrap, Xvfb and xdotool on this machine. Work goes into $QUILLON_FRESH_DIR
# (default /var/tmp/quillon-fresh), which is emptied first; the logs stay there.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
work=${QUILLON_FRESH_DIR:-/var/tmp/quillon-fresh}
suite=bookworm
mirror=http://deb.debian.org/debian
limit_s=$((90 * 60))

checks=("$@")
[ ${#checks[@]} -gt 0 ] || checks=(run test)

if [ "$(id -u)" -ne 0 ]; then
    echo "check-fresh-system: needs root (debootstrap and chroot)" >&2
    exit 2
fi

for tool in debootstrap Xvfb xdotool git; do
    command -v "$tool" >/dev/null || { echo "check-fresh-system: $tool is missing" >&2; exit 2; }
done

# The command in the fenced block that follows a README heading.
readme_command() {
    awk -v heading="## $1" '
        $0 == heading { found = 1; next }
        found && /^```/ { if (inside) exit; inside = 1; next }
        found && inside { print }
    ' "$repo/README.md"
}

mounted=()
xvfb_pid=
cleanup() {
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
    local i
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        umount -R -l "${mounted[$i]}" 2>/dev/null || true
    done
}
trap cleanup EXIT

mount_into() { # <root> <source> <target below root> [mount options...]
    local root=$1 source=$2 target=$1/$3
    shift 3
    mkdir -p "$target"
    mount "$@" "$source" "$target"
    mounted+=("$target")
}

# A fresh system in <root>: the minimal base, this machine's apt sources and a clone of HEAD.
make_system() {
    local root=$1
    mkdir -p "$root"
    tar -C "$root" -xf "$work/base.tar"
    rm -f "$root"/etc/apt/sources.list
    mkdir -p "$root"/etc/apt/sources.list.d "$root"/etc/apt/apt.conf.d
    cp -a /etc/apt/sources.list* "$root"/etc/apt/ 2>/dev/null || true
    find "$root"/etc/apt/sources.list.d -name '*.disabled-*' -delete
    cp -a /etc/apt/apt.conf.d/. "$root"/etc/apt/apt.conf.d/
    cp /etc/resolv.conf "$root"/etc/resolv.conf
    git clone --quiet "$repo" "$root/root/quillon"

    mount_into "$root" proc proc -t proc
    mount_into "$root" sysfs sys -t sysfs
    # rslave: nothing mounted below the system's /dev may reach this machine's.
    mount_into "$root" /dev dev --rbind
    mount --make-rslave "$root/dev"
}

# The command line that runs a command text as root in the system at <root>, in the clone.
in_system() { # <root> <command text>
    in_system_command=(chroot "$1" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
        ${DISPLAY:+DISPLAY=$DISPLAY}
        bash -c "cd /root/quillon && $2")
}

check_test() {
    local root=$work/test command
    command=$(readme_command Test)
    make_system "$root"
    echo "test: $command"
    in_system "$root" "$command"
    if timeout "$limit_s" "${in_system_command[@]}" >"$work/test.log" 2>&1; then
        echo "test: passed ($(grep -E 'tests passed|tests failed' "$work/test.log" | tail -n 1))"
        return 0
    fi
    echo "test: FAILED; the end of $work/test.log:"
    tail -n 40 "$work/test.log"
    return 1
}

check_run() {
    local root=$work/run command display_file pid status=0 waited=0 app
    command=$(readme_command "Build and run")
    make_system "$root"

    display_file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" 2>/dev/null &
    xvfb_pid=$!
    until [ -s "$display_file" ]; do sleep 0.2; done
    export DISPLAY=":$(cat "$display_file")"
    rm -f "$display_file"
    mount_into "$root" /tmp/.X11-unix tmp/.X11-unix --bind

    echo "run: $command"
    in_system "$root" "$command"
    setsid "${in_system_command[@]}" >"$work/run.log" 2>&1 &
    pid=$!

    # Building takes a while; the window's title says the program is up.
    until xdotool search --name '^Korvel Quillon$' >/dev/null 2>&1; do
        if ! kill -0 "$pid" 2>/dev/null; then
            wait "$pid" || status=$?
            echo "run: FAILED: the command ended with status $status before a window appeared; the end of $work/run.log:"
            tail -n 40 "$work/run.log"
            return 1
        fi
        if [ "$waited" -ge "$limit_s" ]; then
            echo "run: FAILED: no window after $limit_s s"
            kill -- "-$pid" 2>/dev/null || kill "$pid"
            return 1
        fi
        sleep 2
        waited=$((waited + 2))
    done

    app=$(pgrep -f 'KorvelQuillon_artefacts/.*/Korvel Quillon$' | head -n 1)
    echo "run: the window is up after ${waited} s; asking the program (pid $app) to quit with SIGTERM"
    kill -TERM "$app"
    wait "$pid" || status=$?
    if [ "$status" -eq 0 ]; then
        echo "run: passed (the command ended with status 0)"
        return 0
    fi
    echo "run: FAILED: the command ended with status $status; the end of $work/run.log:"
    tail -n 40 "$work/run.log"
    return 1
}

rm -rf "$work"
mkdir -p "$work"
echo "bootstrapping a minimal Debian $suite system from $mirror"
debootstrap --variant=minbase "$suite" "$work/base" "$mirror" >"$work/debootstrap.log" 2>&1 \
    || { tail -n 20 "$work/debootstrap.log"; exit 1; }
tar -C "$work/base" -cf "$work/base.tar" .
rm -rf "$work/base"

failed=0
for check in "${checks[@]}"; do
    case "$check" in
        run)  check_run || failed=1 ;;
        test) check_test || failed=1 ;;
        *)    echo "check-fresh-system: unknown check '$check' (run or test)" >&2; exit 2 ;;
    esac
done
exit "$failed"
