# shellcheck shell=bash
# Sourced by what runs the service on this machine (make demo, cross-test,
# the benchmarks): mailboxes of their own, the service, a throw-away nginx.

tessaly_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# private_mailboxes "$@"
#   Runs the calling script again inside an IPC namespace of its own, with a
#   TMPDIR of its own (Qt's key files for the mailboxes live there): no
#   segment or semaphore of another process is seen, and everything the
#   service and tessaly-peer made is gone with the namespace and the folder.
#   TESSALY_HOST_TMPDIR keeps the caller's TMPDIR for what should outlive it.
#   Not root: the namespace is made in a user namespace that maps the caller
#   to itself, so that nginx and the files it writes keep the caller's user.
private_mailboxes() {
    [ -z "${TESSALY_MAILBOXES:-}" ] || return 0
    local ns=(unshare --ipc) why
    [ "$(id -u)" -eq 0 ] || ns=(unshare --map-current-user --ipc)
    why=$("${ns[@]}" true 2>&1) || {
        echo "$(basename "$0"): needs an IPC namespace of its own, and '${ns[*]}' was refused: $why" >&2
        exit 1
    }
    TESSALY_HOST_TMPDIR=${TMPDIR:-/tmp}
    TESSALY_MAILBOXES=$(mktemp -d "$TESSALY_HOST_TMPDIR/tessaly-mailboxes.XXXXXX")
    export TESSALY_HOST_TMPDIR TESSALY_MAILBOXES
    trap 'rm -rf "$TESSALY_MAILBOXES"' EXIT
    local status=0
    TMPDIR=$TESSALY_MAILBOXES "${ns[@]}" -- "$0" "$@" || status=$?
    exit "$status"
}

# start_service BIN ERRORS [EMULATOR...]
#   Starts BIN/TessalyUpdater with BIN as its working folder, as on the device
#   (through EMULATOR when given), standard error into the file ERRORS, and
#   waits for its first log line: from then on it polls its mailbox. Sets
#   service_pid; fails when no line came within 30 s.
start_service() {
    local bin=$1 errors=$2
    shift 2
    (cd "$bin" && exec "$@" ./TessalyUpdater) 2>"$errors" &
    service_pid=$!
    for _ in $(seq 300); do
        compgen -G "$bin/logs/*.log" >/dev/null && return 0
        kill -0 "$service_pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "the service in $bin wrote no log line (its standard error: $errors)" >&2
    return 1
}

stop_service() {
    [ -n "${service_pid:-}" ] || return 0
    kill "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
    service_pid=
}

# start_nginx DIR ROOT [OPTION...]
#   tests/support/nginx-loopback run in the background, serving ROOT; sets url
#   once the port answers. It ends with this script at the latest; stop_nginx
#   ends every one started so far.
nginx_pids=()
start_nginx() {
    local fd
    exec {fd}< <(exec "$tessaly_root/tests/support/nginx-loopback" run "$@")
    nginx_pids+=($!)
    # shellcheck disable=SC2034 # url is what the caller asked for
    read -r -t 20 url <&"$fd" || { echo "nginx did not start (see $1/error.log)" >&2; return 1; }
}

stop_nginx() {
    [ ${#nginx_pids[@]} -ne 0 ] || return 0
    kill "${nginx_pids[@]}" 2>/dev/null || true
    wait "${nginx_pids[@]}" 2>/dev/null || true
    nginx_pids=()
}
