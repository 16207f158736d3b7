# shellcheck shell=bash
# Sourced by what runs the service on this machine (make demo, cross-test,
# the benchmarks): mailboxes of their own, the service, a throw-away nginx.

tessaly_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# private_mailboxes "$@": runs the calling script again in an IPC namespace
#   and a TMPDIR (where Qt keeps the mailboxes' key files) of its own: no
#   other process's segment or semaphore is seen, and whatever the service and
#   tessaly-peer made is gone with both. TESSALY_HOST_TMPDIR is the caller's
#   TMPDIR, for what is to outlive them. Not as root, the namespace comes with
#   a user namespace that maps the caller to itself (nginx keeps its user).
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

# start_service BIN ERRORS [EMULATOR...]: BIN/TessalyUpdater in BIN, its
#   working folder on the device too (through EMULATOR when given), standard
#   error added to the file ERRORS; returns at its first log line, from when on
#   it polls its mailbox. Sets service_pid; fails after 30 s without a line.
start_service() {
    local bin=$1 errors=$2
    shift 2
    (cd "$bin" && exec "$@" ./TessalyUpdater) 2>>"$errors" &
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
    [ -z "${service_pid:-}" ] || { kill "$service_pid"; wait "$service_pid"; } 2>/dev/null || true
    service_pid=
}

# start_nginx DIR ROOT [OPTION...]: tools/nginx-loopback run in the
#   background; sets url once the port answers. stop_nginx ends every one
#   started so far, and they end with the script at the latest.
nginx_pids=()
start_nginx() {
    local fd
    exec {fd}< <(exec "$tessaly_root/tools/nginx-loopback" run "$@")
    nginx_pids+=($!)
    # shellcheck disable=SC2034 # url is what the caller asked for
    read -r -t 20 url <&"$fd" || { echo "nginx did not start (see $1/error.log)" >&2; return 1; }
}

stop_nginx() {
    [ ${#nginx_pids[@]} -eq 0 ] || { kill "${nginx_pids[@]}"; wait "${nginx_pids[@]}"; } 2>/dev/null || true
    nginx_pids=()
}
