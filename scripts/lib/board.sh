# shellcheck shell=bash
# Sourced by the scripts that run the emulated Cortex-A9 board that
# scripts/board-setup builds into a cache folder: 1 GiB, one virtio disk, the
# user-mode network (the host's 127.0.0.1 is 10.0.2.2 there) and a folder of
# the host shared over 9p, which the board mounts at /mnt/host at every boot
# to run /mnt/host/run with sh, as root: that is how a test runs its commands.
# board_overlay CACHE FILE: a throw-away qcow2 disk over the cache's image.
# board_start CACHE DISK CONSOLE [SHARE]: boots the board in the background,
#   headless, its serial console into the file CONSOLE; sets board_pid. The
#   emulator ends with the calling script at the latest. board_cmdline is
#   added to the kernel's command line (e.g. systemd.mask=UNIT).
# board_wait TIMEOUT: waits until the board restarts or powers itself off
#   (-no-reboot turns either into the emulator's exit) and sets board_report
#   to "boot took T s, emulator peak memory M MiB". Fails when the emulator
#   failed, or when the board was still running after TIMEOUT s and was killed.
# board_cut: cuts the board's power (SIGKILL of the emulator): what reached
#   the disk stays, what the guest still held in memory is lost.

board_overlay() { qemu-img create -q -f qcow2 -F raw -b "$1/rootfs.ext4" "$2"; }

board_start() {
    local cache=$1 disk=$2 console=$3 share=${4:-}
    local args=(-M vexpress-a9 -cpu cortex-a9 -smp 1 -m 1024
        # Translated code may grow to 1 GiB by default; a run needs far less.
        -accel "tcg,tb-size=256"
        -kernel "$cache/vmlinuz" -dtb "$cache/board.dtb" -initrd "$cache/initrd.gz"
        # panic=: a kernel that panics restarts, which ends the emulator.
        -append "console=ttyAMA0 root=/dev/vda rw panic=5 ${board_cmdline:-}"
        -drive "if=none,id=root,file=$disk,format=qcow2" -device "virtio-blk-device,drive=root"
        -netdev "user,id=net" -device "virtio-net-device,netdev=net"
        # The board's sound chip gets a silent back end, not the host's sound.
        -audiodev "none,id=silent" -global pl041.audiodev=silent
        -display none -monitor none -serial "file:$console" -no-reboot)
    if [ -n "$share" ]; then
        args+=(-fsdev "local,id=share,path=$share,security_model=none"
            -device "virtio-9p-device,fsdev=share,mount_tag=host")
    fi
    board_started=$(date +%s)
    setpriv --pdeathsig KILL -- qemu-system-arm "${args[@]}" &
    board_pid=$!
}

board_wait() {
    local timeout_s=$1 peak_kib=0 hwm status=0
    while kill -0 "$board_pid" 2>/dev/null; do
        # VmHWM is the process's peak resident size so far.
        hwm=$(awk '/^VmHWM:/ { print $2 }' "/proc/$board_pid/status" 2>/dev/null || true)
        peak_kib=${hwm:-$peak_kib}
        if [ $(($(date +%s) - board_started)) -ge "$timeout_s" ]; then
            board_cut
            echo "the board was still running after $timeout_s s and was killed" >&2
            return 1
        fi
        sleep 1
    done
    wait "$board_pid" 2>/dev/null || status=$?
    # shellcheck disable=SC2034 # board_report is for the caller
    board_report="boot took $(($(date +%s) - board_started)) s, emulator peak memory $((peak_kib / 1024)) MiB"
    [ "$status" -eq 0 ] || { echo "the emulator exited with status $status" >&2; return 1; }
}

# Waited for, so that bash writes no "Killed" line.
board_cut() { { kill -KILL "$board_pid"; wait "$board_pid"; } 2>/dev/null || true; }
