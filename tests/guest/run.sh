#!/usr/bin/env bash
# Runs a bash command line in a disposable emulated x86-64 guest (see image.sh)
# and passes on its console output and exit status. The project folder is
# shared with the guest at the same path, so that absolute paths hold there;
# the command runs from it. The guest's disks are discarded at the end.
#   run.sh [--timeout SECONDS] [--scratch PATH] COMMAND
# --scratch mounts an empty ext4 file system of the guest's own at PATH
# (under the project folder), for what must not live on the shared folder.
# A guest still running after the time-out (default 1500 s) is killed.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/guest.sh"
root=$(cd "$here/../.." && pwd)

timeout=${GUEST_TIMEOUT:-1500}
scratch=
while [ $# -gt 1 ]; do
    case $1 in
    --timeout) timeout=$2; shift 2 ;;
    --scratch) scratch=$2; shift 2 ;;
    *) break ;;
    esac
done
[ $# -eq 1 ] || { echo "usage: run.sh [--timeout SECONDS] [--scratch PATH] COMMAND" >&2; exit 2; }

image=$("$here/image.sh")
mkdir -p "$root/build"
run=$(mktemp -d "$root/build/.guest-run.XXXXXX")
trap 'rm -rf "$run"' EXIT
{
    echo "set -u"
    # No network: the guest's own name must resolve locally, or every Wine
    # session waits seconds for a name server that is not there.
    echo "busybox ip link set lo up; echo '127.0.0.1 localhost' > /etc/hosts; echo \"127.0.1.1 \$(hostname)\" >> /etc/hosts"
    if [ -n "$scratch" ]; then
        echo "mkdir -p '$scratch' && mount /dev/vdb '$scratch' || exit 125"
    fi
    echo "$1"
} > "$run/command.sh"
truncate -s 16G "$run/scratch.img"
mke2fs -q -t ext4 -E lazy_itable_init=1,lazy_journal_init=1 "$run/scratch.img"

: > "$run/console.log"
$guest_qemu $(guest_qemu_args "$image") \
    -drive file="$image/root.img",if=virtio,format=raw,snapshot=on \
    -drive file="$run/scratch.img",if=virtio,format=raw \
    -virtfs local,path="$root",mount_tag=share,security_model=passthrough,id=share \
    -append "$(guest_kernel_args) guest.mode=run guest.share=$root guest.script=$run/command.sh" \
    </dev/null >"$run/console.log" 2>&1 &
qemu=$!
tail -n +1 -f --pid=$qemu "$run/console.log" | sed -u -e 's/\r//g' -e '/^guest-exit-status: /d' -e '/^\[ *[0-9.]*\] reboot: Power down$/d' &
started=$SECONDS
while kill -0 $qemu 2>/dev/null; do
    if [ $((SECONDS - started)) -ge "$timeout" ]; then
        kill $qemu
        wait $qemu 2>/dev/null || true
        echo "guest: still running after $timeout s; stopped it (qemu pid $qemu)" >&2
        exit 124
    fi
    sleep 1
done
wait $qemu 2>/dev/null || true
wait
status=$(tr -d '\r' < "$run/console.log" | sed -n 's/^guest-exit-status: \([0-9]*\)$/\1/p' | tail -1)
if [ -z "$status" ]; then
    echo "guest: ended without reporting a status; its console said:" >&2
    tail -n 20 "$run/console.log" >&2
    exit 125
fi
exit "$status"
