#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A shared folder served from this machine and mounted several times, one mount per classroom
# PC, as a school's file server would serve the game's folder:
#
#   mounts.sh COUNT COMMAND [ARGS...]
#
# starts a private sshd on a free loopback port (its own configuration, host key and client
# key in a temporary directory), creates pupil accounts nbpupil1..4 in group nbclass, serves
# the folder $SHARE_SERVED (mode 2775, group nbclass) and mounts it with sshfs COUNT times at
# $SHARE_ROOT/pc1..pcCOUNT, each mount logged in as the pupil (i-1)%4+1, and twice more with
# client caches that keep the file's bytes (CACHED_OPTIONS). It then runs COMMAND with
# SHARE_SERVED, SHARE_MOUNTS (the mount points, separated by spaces), SHARE_CACHED_MOUNTS and
# SHARE_OPTIONS set, and unmounts, stops sshd and removes the accounts and the directory on the way out,
# whatever happened. SSHFS_OPTIONS replaces the client options below. Needs root, /dev/fuse,
# sshd and sshfs; when any is missing it says so and exits 2.
set -u

count=${1:?count of mounts}
shift

# The client options a school would choose: no attribute or directory cache, so that every
# PC sees a file created, replaced or removed by another at once; reconnect after a dropped
# connection; other local users may use the mount (the permissions are the server's).
options=${SSHFS_OPTIONS:-cache=no,reconnect,ServerAliveInterval=5,ServerAliveCountMax=3,allow_other}
# A client that keeps what it read of a file, and its attributes, for long: a read answered
# from this cache misses another PC's write.
cached_options=${CACHED_OPTIONS:-cache=yes,kernel_cache,cache_timeout=600,attr_timeout=600,reconnect,allow_other}
pupils=4

fail() { echo "mounts.sh: $*" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || fail "needs root (sshd, accounts and FUSE mounts)"
[ -c /dev/fuse ] || fail "no /dev/fuse: this machine cannot mount FUSE file systems"
command -v sshfs >/dev/null || fail "sshfs is not installed (scripts/setup.sh --tests)"
[ -x /usr/sbin/sshd ] || fail "sshd is not installed (scripts/setup.sh --tests)"

root=$(mktemp -d /tmp/nubora-share.XXXXXX) || fail "no temporary directory"
chmod 755 "$root"
sshd_pid=""
mounted=()
created_users=()
created_group=""
cleanup() {
    for m in "${mounted[@]}"; do fusermount3 -u -z "$m" 2>/dev/null; done
    [ -n "$sshd_pid" ] && kill "$sshd_pid" 2>/dev/null && wait "$sshd_pid" 2>/dev/null
    for u in "${created_users[@]}"; do userdel "$u" 2>/dev/null; done
    [ -n "$created_group" ] && groupdel "$created_group" 2>/dev/null
    rm -rf "$root"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

if ! getent group nbclass >/dev/null; then
    groupadd nbclass || fail "cannot create group nbclass"
    created_group=nbclass
fi
for i in $(seq 1 $pupils); do
    u=nbpupil$i
    if ! getent passwd "$u" >/dev/null; then
        useradd -M -d /nonexistent -s /bin/sh -g nbclass "$u" || fail "cannot create user $u"
        created_users+=("$u")
    fi
    usermod -p '*' "$u" # no password, but not locked: key logins only
done

mkdir -p /run/sshd "$root/served"
chgrp nbclass "$root/served"
chmod 2775 "$root/served"
ssh-keygen -q -t ed25519 -N '' -f "$root/host_key" || fail "ssh-keygen failed"
ssh-keygen -q -t ed25519 -N '' -f "$root/client_key" || fail "ssh-keygen failed"
cp "$root/client_key.pub" "$root/authorized_keys"
chmod 644 "$root/authorized_keys"

started=""
for attempt in 1 2 3 4 5 6 7 8; do
    port=$((20000 + RANDOM % 40000))
    cat >"$root/sshd_config" <<EOF
ListenAddress 127.0.0.1
Port $port
HostKey $root/host_key
PidFile none
AuthorizedKeysFile $root/authorized_keys
StrictModes no
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
PermitRootLogin prohibit-password
Subsystem sftp internal-sftp -u 0002
MaxStartups 100:30:200
MaxSessions 100
LogLevel ERROR
EOF
    /usr/sbin/sshd -D -e -f "$root/sshd_config" 2>"$root/sshd.log" &
    sshd_pid=$!
    for _ in $(seq 1 50); do
        if ssh -q -p "$port" -i "$root/client_key" -o BatchMode=yes -o StrictHostKeyChecking=no \
            -o UserKnownHostsFile=/dev/null nbpupil1@127.0.0.1 true 2>/dev/null; then
            started=yes
            break
        fi
        kill -0 "$sshd_pid" 2>/dev/null || break
        sleep 0.1
    done
    [ -n "$started" ] && break
    kill "$sshd_pid" 2>/dev/null; wait "$sshd_pid" 2>/dev/null; sshd_pid=""
done
[ -n "$started" ] || { cat "$root/sshd.log" >&2; fail "sshd did not start on a loopback port"; }

mounts=""
cached=""
for i in $(seq 1 $((count + 2))); do
    m="$root/pc$i"
    mkdir "$m"
    u=nbpupil$(( (i - 1) % pupils + 1 ))
    o=$options
    [ "$i" -gt "$count" ] && o=$cached_options
    if ! sshfs -p "$port" -o "IdentityFile=$root/client_key,StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null,BatchMode=yes,$o" \
        "$u@127.0.0.1:$root/served" "$m"; then
        fail "sshfs could not mount the served folder (mount $i of $count + 2)"
    fi
    mounted+=("$m")
    if [ "$i" -gt "$count" ]; then cached="$cached $m"; else mounts="$mounts $m"; fi
done

SHARE_SERVED="$root/served" SHARE_MOUNTS="${mounts# }" SHARE_CACHED_MOUNTS="${cached# }" SHARE_OPTIONS="$options" "$@"
