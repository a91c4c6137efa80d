# shellcheck shell=bash
# Common code of the PC/SC lab scripts: a private pcscd with vpcd virtual
# readers and vicc virtual cards, all under one state directory.
# Sourced by the lab scripts; not meant to be run.
# shellcheck disable=SC2034  # the constants and paths serve the scripts
#
# Environment:
#   VARDEL_LAB_DIR      state directory (default /tmp/vardel-lab)
#   VARDEL_LAB_PORT     base TCP port: reader k takes its card on BASE+k (default 35963)
#   VARDEL_LAB_TIMEOUT  seconds to wait for the service or a card (default 10)

LAB_SCRIPTS=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd -P)
readonly LAB_SCRIPTS
readonly LAB_PYTHON=/usr/bin/python3
readonly LAB_PCSCD=/usr/sbin/pcscd
readonly LAB_VPCD_DRIVER=/usr/lib/pcsc/drivers/serial/libifdvpcd.so
readonly LAB_PACKAGES=(pcscd libpcsclite-dev pcsc-tools vsmartcard-vpcd vsmartcard-vpicc
    python3-virtualsmartcard python3-pycryptodome python3-pyscard)
# What vicc's iso7816 card answers when no ATR is asked for.
readonly LAB_DEFAULT_ATR="3B 95 13 81 01 80 73 FF 01 00 0B"
# pcsc-lite 1.9.9 serves at most 16 readers.
readonly LAB_MAX_READERS=16
# Longest path a Unix socket address holds (sun_path minus its NUL).
readonly LAB_MAX_SOCKET_PATH=107

lab_die() {
    printf '%s: %s\n' "${0##*/}" "$*" >&2
    exit 1
}

lab_note() {
    printf '%s: %s\n' "${0##*/}" "$*" >&2
}

# Resolves the configuration and the state paths; exports the client's socket.
lab_init() {
    local dir=${VARDEL_LAB_DIR:-/tmp/vardel-lab}
    LAB_PORT=${VARDEL_LAB_PORT:-35963}
    LAB_TIMEOUT=${VARDEL_LAB_TIMEOUT:-10}

    if ! [[ $LAB_PORT =~ ^[0-9]{1,5}$ ]] || ((10#$LAB_PORT < 1024 || 10#$LAB_PORT > 65535)); then
        lab_die "VARDEL_LAB_PORT must be a TCP port from 1024 to 65535, not '$LAB_PORT'"
    fi
    LAB_PORT=$((10#$LAB_PORT))
    if ! [[ $LAB_TIMEOUT =~ ^[0-9]{1,4}$ ]] || ((10#$LAB_TIMEOUT < 1)); then
        lab_die "VARDEL_LAB_TIMEOUT must be a whole number of seconds (1 or more), not '$LAB_TIMEOUT'"
    fi
    LAB_TIMEOUT=$((10#$LAB_TIMEOUT))

    # The reader configuration parser splits on blanks and quotes, so the
    # paths written into it must hold neither.
    [[ -n $dir && $dir != *[[:space:]\"\'\\]* ]] ||
        lab_die "VARDEL_LAB_DIR must be a path without blanks, quotes or backslashes, not '$dir'"
    LAB_DIR=$(realpath -m -- "$dir") || lab_die "bad state directory '$dir'"
    [[ $LAB_DIR != / ]] || lab_die "VARDEL_LAB_DIR must not be /"
    # The service gets a fresh /run in its own mount namespace: a state
    # directory below /run would be hidden from it.
    [[ $LAB_DIR != /run && $LAB_DIR != /run/* ]] ||
        lab_die "VARDEL_LAB_DIR must not be below /run (the service gets its own /run): $LAB_DIR"
    mkdir -p -- "$LAB_DIR" || lab_die "cannot create the state directory $LAB_DIR"

    LAB_RUN=$LAB_DIR/run
    LAB_SOCKET=$LAB_RUN/pcscd.comm
    LAB_CONF_DIR=$LAB_DIR/reader.conf.d
    LAB_CONF=$LAB_CONF_DIR/vardel-lab
    LAB_DRIVERS=$LAB_DIR/drivers
    LAB_STATE=$LAB_DIR/lab.state
    LAB_PCSCD_PIDFILE=$LAB_DIR/pcscd.pid
    LAB_PCSCD_LOG=$LAB_DIR/pcscd.log
    ((${#LAB_SOCKET} <= LAB_MAX_SOCKET_PATH)) ||
        lab_die "VARDEL_LAB_DIR is too long: the socket path $LAB_SOCKET exceeds $LAB_MAX_SOCKET_PATH bytes"

    export PCSCLITE_CSOCK_NAME=$LAB_SOCKET
}

# Serialises the lab commands working on one state directory. The lock lives
# on descriptor 9: every process started in the background must close it.
lab_lock() {
    exec 9>>"$LAB_DIR/lock"
    flock -w 120 9 || lab_die "another lab command has held $LAB_DIR/lock for 120 s"
}

# Reads the running lab's reader count, base port and naming (LAB_READERS,
# LAB_BASE, LAB_LATIN1). Returns 1 when no lab has been set up in this
# directory.
lab_state_read() {
    local key value
    LAB_READERS='' LAB_BASE='' LAB_LATIN1=0
    [[ -f $LAB_STATE ]] || return 1
    while read -r key value; do
        case $key in
            readers) LAB_READERS=$value ;;
            port) LAB_BASE=$value ;;
            latin1) LAB_LATIN1=$value ;;
        esac
    done <"$LAB_STATE"
    [[ $LAB_READERS =~ ^[0-9]+$ && $LAB_BASE =~ ^[0-9]+$ ]] ||
        lab_die "unreadable lab state in $LAB_STATE: run lab-up again"
}

# Name pcscd gives to reader K: two slots per vpcd entry. With LAB_LATIN1=1
# the last pair is "Lecteur \xE9" (Latin-1: not UTF-8).
lab_reader_name() {
    local k=$1
    if ((${LAB_LATIN1:-0} && k / 2 == LAB_READERS / 2 - 1)); then
        printf 'Lecteur \xe9 00 %02X' $((k % 2))
    else
        printf 'Lab Reader %d 00 %02X' $((k / 2)) $((k % 2))
    fi
}

lab_card_pidfile() {
    printf '%s/card-%d.pid' "$LAB_DIR" "$1"
}

lab_card_log() {
    printf '%s/card-%d.log' "$LAB_DIR" "$1"
}

# Prints the PID recorded in FILE when that process is still alive and still
# runs the expected program (PID reuse must never make us signal a stranger).
# KIND is "pcscd" or "card:PORT". Removes the file when it is stale.
lab_pid_from() {
    local file=$1 kind=$2 pid args=()
    [[ -f $file ]] || return 1
    pid=$(tr -dc 0-9 <"$file")
    if [[ -n $pid ]] && mapfile -d '' -t args 2>/dev/null <"/proc/$pid/cmdline" && ((${#args[@]} > 0)); then
        case $kind in
            pcscd)
                if [[ ${args[*]} == "$LAB_PCSCD -f -c $LAB_CONF_DIR" ]]; then
                    echo "$pid"
                    return 0
                fi
                ;;
            card:*)
                if ((${#args[@]} >= 3)) && [[ ${args[0]} == "$LAB_PYTHON" &&
                    ${args[1]##*/} == vicc-launch.py && ${args[2]} == "${kind#card:}" ]]; then
                    echo "$pid"
                    return 0
                fi
                ;;
        esac
    fi
    rm -f -- "$file"
    return 1
}

lab_pcscd_pid() {
    lab_pid_from "$LAB_PCSCD_PIDFILE" pcscd
}

lab_card_pid() {
    lab_pid_from "$(lab_card_pidfile "$1")" "card:$(($2))"
}

# True when PID is stopped by a signal (frozen).
lab_pid_frozen() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    stat=${stat##*) }
    [[ ${stat:0:1} == [Tt] ]]
}

# True when PID has ended. Our processes are not our children: a dead one
# stays a zombie until init reaps it, which may take a while.
lab_pid_gone() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
    stat=${stat##*) }
    [[ ${stat:0:1} == [ZX] ]]
}

# Waits up to SECONDS (tenths allowed) for PID to end.
lab_wait_gone() {
    local pid=$1 tenths
    tenths=$(awk -v s="$2" 'BEGIN { printf "%d", s * 10 }')
    while ((tenths-- > 0)); do
        lab_pid_gone "$pid" && return 0
        sleep 0.05
        lab_pid_gone "$pid" && return 0
        sleep 0.05
    done
    lab_pid_gone "$pid"
}

# Ends PID with SIGNAL, then SIGKILL if it lingers.
lab_end_pid() {
    local pid=$1 signal=$2 grace=${3:-5}
    kill "-$signal" "$pid" 2>/dev/null || true
    # A frozen process keeps SIGTERM pending until it runs again.
    kill -CONT "$pid" 2>/dev/null || true
    lab_wait_gone "$pid" "$grace" && return 0
    lab_note "process $pid ignored SIG$signal for $grace s: sending SIGKILL"
    kill -KILL "$pid" 2>/dev/null || true
    lab_wait_gone "$pid" 5 || lab_die "process $pid did not end after SIGKILL"
}

# Runs the PC/SC client helper with a hard time limit: a frozen service
# blocks SCardEstablishContext without any limit of its own.
lab_client() {
    local rc=0
    timeout -k 2 $((LAB_TIMEOUT + 5)) "$LAB_PYTHON" "$LAB_SCRIPTS/lab-wait.py" --timeout "$LAB_TIMEOUT" "$@" || rc=$?
    if ((rc == 124 || rc == 137)); then
        lab_note "the PC/SC service did not answer within $((LAB_TIMEOUT + 5)) s (frozen?)"
        return 1
    fi
    return "$rc"
}

# Shows the end of LOG since its last "===" start line.
lab_log_tail() {
    local log=$1
    [[ -s $log ]] || return 0
    printf -- '--- end of %s ---\n' "$log" >&2
    awk '/^=== / { n = 0 } { line[n++] = $0 } END { for (i = (n > 30 ? n - 30 : 0); i < n; i++) print line[i] }' "$log" >&2
    printf -- '---\n' >&2
}

# Writes the reader configuration for N readers on base port BASE into FILE:
# one vpcd entry per pair of readers, each with its own driver copy (the
# driver keeps its slot table in globals, shared by entries of one copy).
# LATIN1=1 names the last pair in Latin-1, as a reader.conf may.
lab_write_config() {
    local n=$1 base=$2 file=$3 latin1=${4:-0} i port
    {
        printf '# PC/SC lab: %d readers, cards on ports %d and up\n' "$n" "$base"
        for ((i = 0; i < n / 2; i++)); do
            port=$((base + 2 * i))
            if ((latin1 && i == n / 2 - 1)); then
                printf '\nFRIENDLYNAME "Lecteur \xe9"\n'
            else
                printf '\nFRIENDLYNAME "Lab Reader %d"\n' "$i"
            fi
            printf 'DEVICENAME /dev/null:%d\n' "$port"
            printf 'LIBPATH %s/libifdvpcd-%d.so\n' "$LAB_DRIVERS" "$i"
            printf 'CHANNELID %d\n' "$port"
        done
    } >"$file"
}

lab_install_drivers() {
    local n=$1 i copy
    mkdir -p -- "$LAB_DRIVERS"
    for ((i = 0; i < n / 2; i++)); do
        copy=$LAB_DRIVERS/libifdvpcd-$i.so
        cmp -s -- "$LAB_VPCD_DRIVER" "$copy" && continue
        # Replace, never rewrite in place: a running service may map the old copy.
        cp -- "$LAB_VPCD_DRIVER" "$copy.tmp"
        mv -f -- "$copy.tmp" "$copy"
    done
}

lab_expected_readers() {
    local k
    for ((k = 0; k < LAB_READERS; k++)); do
        lab_reader_name "$k"
        printf '\n'
    done
}

# Waits until the service lists exactly the configured readers.
lab_wait_readers() {
    local pid=$1 names=()
    mapfile -t names < <(lab_expected_readers)
    lab_client --pid "$pid" readers "${names[@]}" >/dev/null
}

# Starts pcscd on the configuration in place and waits for its readers.
lab_start_pcscd() {
    local pid launcher tenths ports=() k
    for ((k = 0; k < LAB_READERS; k++)); do
        ports+=($((LAB_BASE + k)))
    done
    if ((${#ports[@]} > 0)); then
        lab_client ports-free "${ports[@]}" ||
            lab_die "the lab's card ports are taken (another lab or a system pcscd with vpcd?): choose another VARDEL_LAB_PORT"
    fi

    mkdir -p -- "$LAB_RUN"
    rm -f -- "$LAB_PCSCD_PIDFILE"
    # pcscd refuses to start while its previous pid file names a process that
    # exists, and a killed pcscd exists as a zombie until init reaps it. Only
    # pcscd of this lab use this run directory: its leftovers can go.
    if lab_pid_from "$LAB_RUN/pcscd.pid" pcscd >/dev/null; then
        lab_die "a pcscd of this lab runs without its record in $LAB_PCSCD_PIDFILE (PID $(tr -dc 0-9 <"$LAB_RUN/pcscd.pid")): end it first"
    fi
    rm -f -- "$LAB_RUN/pcscd.pid" "$LAB_RUN/pcscd.comm"
    printf '=== %s: starting pcscd with %d readers, base port %d ===\n' \
        "$(date '+%F %T')" "$LAB_READERS" "$LAB_BASE" >>"$LAB_PCSCD_LOG"
    # pcscd always serves /run/pcscd: give it a /run of its own where
    # /run/pcscd is our run directory, so a system service is never touched.
    # The shell records its PID, which pcscd keeps through the exec.
    # shellcheck disable=SC2016  # expanded by that shell
    (
        lab_close_fds
        exec setsid unshare --mount --propagation private -- sh -c '
            mount -t tmpfs lab-run /run && mkdir /run/pcscd &&
            mount --bind "$1" /run/pcscd || exit 1
            echo $$ >"$2.tmp" && mv -f "$2.tmp" "$2" || exit 1
            shift 2
            exec "$@"' lab "$LAB_RUN" "$LAB_PCSCD_PIDFILE" "$LAB_PCSCD" -f -c "$LAB_CONF_DIR"
    ) </dev/null >>"$LAB_PCSCD_LOG" 2>&1 &
    launcher=$!

    tenths=$((LAB_TIMEOUT * 10))
    until pid=$(lab_pcscd_pid); do
        if ! kill -0 "$launcher" 2>/dev/null || ((tenths-- <= 0)); then
            lab_note "pcscd did not start"
            lab_log_tail "$LAB_PCSCD_LOG"
            exit 1
        fi
        sleep 0.1
    done
    if ! lab_wait_readers "$pid"; then
        lab_note "pcscd (PID $pid) did not show the $LAB_READERS lab readers within $LAB_TIMEOUT s"
        lab_log_tail "$LAB_PCSCD_LOG"
        exit 1
    fi
}

# Closes every descriptor above 2, chiefly the lock: a daemon must not hold
# it, nor a pipe a caller waits on for end of file.
lab_close_fds() {
    local fd
    for fd in /proc/"$BASHPID"/fd/*; do
        fd=${fd##*/}
        [[ $fd =~ ^[0-9]+$ ]] && ((fd > 2)) && eval "exec $fd>&-"
    done
    return 0
}

lab_stop_cards() {
    local file k pid
    for file in "$LAB_DIR"/card-*.pid; do
        [[ -e $file ]] || continue
        k=${file##*/card-}
        k=${k%.pid}
        [[ $k =~ ^[0-9]+$ ]] || continue
        if pid=$(lab_pid_from "$file" "card:$((${LAB_BASE:-$LAB_PORT} + k))"); then
            lab_end_pid "$pid" TERM 2
        fi
        rm -f -- "$file"
    done
}

# Stops pcscd with SIGNAL (TERM or KILL); its cards cannot outlive it.
lab_stop_pcscd() {
    local signal=$1 pid
    if pid=$(lab_pcscd_pid); then
        lab_end_pid "$pid" "$signal" 5
    fi
    rm -f -- "$LAB_PCSCD_PIDFILE"
    lab_stop_cards
}

lab_print_export() {
    printf 'export PCSCLITE_CSOCK_NAME=%q\n' "$LAB_SOCKET"
}

# Checks a reader index K against the running lab.
lab_check_reader() {
    local k=$1
    [[ $k =~ ^[0-9]{1,3}$ ]] || lab_die "reader index must be a number from 0, not '$k'"
    k=$((10#$k))
    ((LAB_READERS > 0)) || lab_die "no reader $k: the lab has no reader"
    ((k < LAB_READERS)) || lab_die "no reader $k: the lab has $LAB_READERS readers (0 to $((LAB_READERS - 1)))"
}
