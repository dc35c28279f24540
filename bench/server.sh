#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The class server's saves and reads under forty clients (bench/server_bench.cpp measures),
# against what this script starts in a folder of its own, all on loopback:
#  nubora1-server on SQLite (DIR/nubora1.sqlite) and nubora1-server on PostgreSQL, each with
#  one class and without its rate limits;
#  a PostgreSQL 15 cluster (initdb, pg_ctl) with its settings as Debian ships them (fsync and
#  synchronous_commit on), listening on a socket in the folder only;
#  nginx with a configuration of its own, serving the class's 900 bytes as a static file.
# PostgreSQL and nginx run as nobody when this runs as root. The folder is under /var/tmp (or
# BENCH_DIR), which is on a disk, so that every commit's flush is a real one.
# The SQLite server also serves the class link's page: build-web/'s files when the site is built,
# else files of the same names and sizes. Up to 20,000 files may be open (the idle connections).
# ROUNDS (5) rounds of BENCH_SECONDS (3) seconds a figure; BENCH_ROWS (all) names the rows to
# measure (server_bench's --rows, e.g. BENCH_ROWS=SQLite,reads).
set -euo pipefail
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build
ROUNDS=${ROUNDS:-5}
SECONDS_EACH=${BENCH_SECONDS:-3}
work=$(mktemp -d "${BENCH_DIR:-/var/tmp}/nubora1-bench-XXXXXX")
chmod 755 "$work"
pids=()

as_plain_user() {
    if [ "$(id -u)" -eq 0 ]; then runuser -u nobody -- "$@"; else "$@"; fi
}
pg() { as_plain_user /usr/lib/postgresql/15/bin/"$@"; }
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    [ -f "$work/nginx/nginx.pid" ] && kill "$(cat "$work/nginx/nginx.pid")" 2>/dev/null || true
    [ -d "$work/pg/data" ] && pg pg_ctl -D "$work/pg/data" -w -m immediate stop >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "bench/server.sh: $*" >&2; exit 1; }

# PostgreSQL: room for the server's pool and the bare threads' (40 each, beside one another).
mkdir -p "$work/pg"
[ "$(id -u)" -eq 0 ] && chown nobody: "$work/pg"
pg initdb -D "$work/pg/data" -A trust -U postgres >/dev/null
pg pg_ctl -D "$work/pg/data" -w -l "$work/pg/log" \
    -o "-c listen_addresses='' -k $work/pg -c max_connections=200" start >/dev/null
pg_url="postgresql:///postgres?host=$work/pg&user=postgres"

# nginx on the first free loopback port from 18080, as Debian's own configuration serves files.
mkdir -p "$work/nginx/root"
for port in $(seq 18080 18180); do
    cat >"$work/nginx/nginx.conf" <<EOF
worker_processes auto;
pid $work/nginx/nginx.pid;
events { worker_connections 1024; }
http {
    include /etc/nginx/mime.types;
    default_type application/octet-stream;
    sendfile on;
    tcp_nopush on;
    access_log off;
    client_body_temp_path $work/nginx/body;
    proxy_temp_path $work/nginx/proxy;
    fastcgi_temp_path $work/nginx/fastcgi;
    uwsgi_temp_path $work/nginx/uwsgi;
    scgi_temp_path $work/nginx/scgi;
    server {
        listen 127.0.0.1:$port;
        root $work/nginx/root;
    }
}
EOF
    [ "$(id -u)" -eq 0 ] && chown -R nobody: "$work/nginx"
    if as_plain_user /usr/sbin/nginx -e "$work/nginx/error.log" -p "$work/nginx" -c "$work/nginx/nginx.conf" 2>/dev/null; then
        nginx_port=$port
        break
    fi
done
[ -n "${nginx_port:-}" ] || fail "nginx did not start: $(cat "$work/nginx/error.log")"

# class_key STORE-ARGS…: a new class's pupils' key.
class_key() {
    "$build/nubora1-server" class add "ベンチ" --url http://127.0.0.1/ "$@" |
        sed -n 's|^生徒のリンク: http://127.0.0.1/c/\([A-Za-z0-9_-]*\)/$|\1|p'
}
# serve NAME STORE-ARGS…: starts a server and sets NAME_port.
serve() {
    local name=$1
    shift
    "$build/nubora1-server" serve --listen 127.0.0.1:0 --no-rate-limits "$@" >"$work/$name.out" 2>&1 &
    pids+=($!)
    local port=""
    for _ in $(seq 300); do
        port=$(sed -n 's|^nubora1-server: listening on http://127.0.0.1:\([0-9]*\)/$|\1|p' "$work/$name.out")
        [ -n "$port" ] && break
        kill -0 "${pids[-1]}" 2>/dev/null || fail "$name server ended: $(cat "$work/$name.out")"
        sleep 0.1
    done
    [ -n "$port" ] || fail "$name server did not listen"
    printf -v "${name}_port" %s "$port"
    printf -v "${name}_pid" %s "${pids[-1]}"
}
mkdir -p "$work/site"
if [ -f "$top/build-web/index.html" ]; then
    find "$top/build-web" -maxdepth 1 -type f -exec cp {} "$work/site/" \;
else
    for file in index.html:1603 nubora1.js:75159 nubora1_module.wasm:103298 style.css:3200 \
        windows.css:4800 manifest.webmanifest:431 nubora1.svg:2046 nubora1-180.png:9433 sw.js:2891; do
        head -c "${file#*:}" /dev/zero | tr '\0' x >"$work/site/${file%:*}"
    done
fi
sqlite_key=$(class_key --data "$work/sqlite")
pg_key=$(class_key --database "$pg_url")
[ -n "$sqlite_key" ] && [ -n "$pg_key" ] || fail "class add printed no link"
serve sqlite --data "$work/sqlite" --site "$work/site"
serve plain --data "$work/sqlite" --no-replay
serve pg --database "$pg_url"

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
"$build/server_bench" --rounds "$ROUNDS" --seconds "$SECONDS_EACH" \
    --sqlite-port "$sqlite_port" --sqlite-key "$sqlite_key" --sqlite-data "$work/sqlite" \
    --sqlite-pid "$sqlite_pid" --site "$work/site" --sqlite-plain-port "$plain_port" \
    --pg-port "$pg_port" --pg-key "$pg_key" --pg "$pg_url" \
    --nginx-port "$nginx_port" --nginx-root "$work/nginx/root" ${BENCH_ROWS:+--rows "$BENCH_ROWS"}
