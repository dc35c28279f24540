#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package into DIR and checks it as a packager would: lintian on the
# packages, the .changes and the source package (no overrides), the tree as check_tree.sh
# sees it, the licence, and the game from the package as a teacher sets it up for a class:
# copied into a folder that holds the class's tavon.rnk, started in a real X server, it shows
# its start message and saves a game into that file. Then the class server's package: its
# unit as systemd reads and rates it, and the package installed by apt into a clean Debian 12
# root, serving there as its unit starts it, with a class the teacher adds as root while it
# runs: check_deb.sh DIR VERSION.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e/xsession.sh"
out=${1:?usage: check_deb.sh DIR VERSION} version=${2:?}

sh "$here/../../scripts/build-deb.sh" "$out" >"$out.log" 2>&1 || { tail -n 40 "$out.log"; fail "the package did not build"; }
[ "$(dpkg-parsechangelog -l "$here/../../debian/changelog" -S Version)" = "$version" ] ||
    fail "debian/changelog is not at version $version"
deb=$out/nubora1_${version}_$(dpkg --print-architecture).deb
changes=${deb%.deb}.changes
[ -f "$deb" ] || fail "no $deb"

lintian --fail-on error,warning "$changes" "$out/nubora1_$version.dsc" || fail "lintian"

server_deb=$out/nubora1-server_${version}_$(dpkg --print-architecture).deb
[ -f "$server_deb" ] || fail "no $server_deb"
dpkg-deb -x "$server_deb" "$work/server"
unit=lib/systemd/system/nubora1-server.service
page=$work/server/usr/share/man/man1/nubora1-server.1
page=$(ls "$page" "$page.gz" 2>/dev/null | head -n1) || true
[ -n "$page" ] || fail "no manual page for nubora1-server"
warnings=$(zcat -f "$page" | LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l -Tutf8 -Z - 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "$page: $warnings"
grep -rq 'certificate.*trust' "$work/server/usr/share/doc/nubora1-server/examples" ||
    fail "the proxy examples do not say that the devices must trust the certificate"
# Lower is safer; "OK" ends at 1.9 (the unit rates 1.1).
systemd-analyze security --offline=yes --threshold=19 --root="$work/server" "/$unit" >"$work/security.log" ||
    { cat "$work/security.log"; fail "systemd-analyze security rates $unit over 1.9"; }
tail -n1 "$work/security.log"

# A clean Debian 12 root: made by debootstrap (minbase) on the first run, kept as DIR.debian12.tar
# and unpacked afresh each time. Commands run there in mount and process namespaces of their
# own, so that nothing mounted or started outlives them.
debian_root() {
    root12=$work/debian12
    mkdir -p "$root12"
    if [ ! -s "$out.debian12.tar" ]; then
        unshare --mount debootstrap --variant=minbase bookworm "$root12" "${DEBIAN_MIRROR:-http://deb.debian.org/debian}" \
            >"$out.debootstrap.log" 2>&1 || { tail -n 20 "$out.debootstrap.log"; fail "debootstrap"; }
        tar -C "$root12" -cf "$out.debian12.tar.new" . && mv "$out.debian12.tar.new" "$out.debian12.tar"
    else
        tar -C "$root12" -xf "$out.debian12.tar"
    fi
    cp /etc/resolv.conf "$root12/etc/"
    # A command's processes end with its unshare, killed by SIGKILL (it ignores SIGTERM); one
    # that changes its user runs below a shell, which keeps that promise.
    in_root=(unshare --mount --pid --fork --kill-child --mount-proc="$root12/proc" chroot "$root12"
        env -i PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin LANG=C.UTF-8)
}

if [ "$(id -u)" -eq 0 ]; then
    debian_root
    cp "$server_deb" "$root12/tmp/"
    "${in_root[@]}" sh -c "apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /tmp/${server_deb##*/}" \
        >"$work/apt.log" 2>&1 || { tail -n 20 "$work/apt.log"; fail "apt could not install nubora1-server in a clean Debian 12"; }
    # systemd as this root has none: the unit's ExecStart under a user of its own, with its
    # settings, state folder and (for the free port this test needs) another address; and a
    # systemd-run that takes only the unit's own settings for the same identity.
    uid=61184
    install -d -o $uid -g $uid -m 0700 "$root12/var/lib/nubora1-server"
    identity="setpriv --reuid=$uid --regid=$uid --clear-groups"
    cat >"$root12/usr/local/bin/systemd-run" <<EOF
#!/bin/sh
for arg; do
    case \$arg in
    --property=*) grep -qx "\${arg#--property=}" /$unit || { echo "systemd-run: \$arg is not in the unit" >&2; exit 1; } ;;
    --) break ;;
    esac
    shift
done
shift
set -a; . /etc/default/nubora1-server; STATE_DIRECTORY=/var/lib/nubora1-server; exec $identity "\$@"
EOF
    chmod +x "$root12/usr/local/bin/systemd-run"
    # systemd does not run here (no /run/systemd/system): `class add` as root works on the state
    # folder itself, before the service ever started, and leaves the database's files the
    # service's, so that the service started next can save into them.
    "${in_root[@]}" nubora1-server class add ３年２組 >"$work/add.log" || { cat "$work/add.log"; fail "class add as root"; }
    key=$(sed -n 's|^生徒のリンク: http://[^/]*:8080/c/\([A-Za-z0-9_-]*\)/$|\1|p' "$work/add.log")
    [ -n "$key" ] || { cat "$work/add.log"; fail "class add printed no pupils' link"; }
    owners=$(find "$root12/var/lib/nubora1-server" -mindepth 1 -printf '%U:%G %m %f\n')
    [ -n "$owners" ] && ! grep -qv "^$uid:$uid 600 " <<<"$owners" ||
        fail "class add as root left files the service cannot write: $owners"
    exec_start=$(sed -n 's/^ExecStart=//p' "$root12/$unit")
    "${in_root[@]}" sh -c "set -a; . /etc/default/nubora1-server; STATE_DIRECTORY=/var/lib/nubora1-server
        NUBORA1_LISTEN=127.0.0.1:0 $identity $exec_start" >"$work/serve.log" 2>&1 &
    server=$!
    trap 'kill -KILL $server 2>/dev/null || true; wait $server 2>/dev/null || true; cleanup' EXIT
    for _ in $(seq 100); do grep -qs listening "$work/serve.log" && break; sleep 0.1; done
    port=$(sed -n 's|.*listening on http://127.0.0.1:\([0-9]*\)/|\1|p' "$work/serve.log")
    [ -n "$port" ] || { cat "$work/serve.log"; fail "the installed server did not start as its unit says"; }
    ! grep -q 'site' "$work/serve.log" || fail "the installed server finds no site: $(cat "$work/serve.log")"
    # An entry of a game on one of the class's tickets: every question timed out, 0 points.
    ticket=$(curl -fsS -H 'X-Nubora-Device: check-deb-device' -d '{}' "http://127.0.0.1:$port/api/v1/classes/$key/tickets" |
        sed -n 's/^{"tickets":\["\([^"]*\)".*/\1/p')
    [ -n "$ticket" ] || fail "the service gives no tickets for the class root added before it started"
    curl -fsS -H 'Content-Type: application/json' -H 'X-Nubora-Device: check-deb-device' \
        -d '{"id":"check-deb-1","range":1,"score":0,"name":"たろう","ticket":"'"$ticket"'","log":"1;1;t,t,t,t,t"}' \
        "http://127.0.0.1:$port/api/v1/classes/$key/entries" | grep -q '"saved":true' ||
        fail "the service cannot save into the class root added before it started"
    # A backup as root, taken while the server serves, holds the save.
    "${in_root[@]}" nubora1-server backup /root/classes.sqlite >/dev/null && grep -qa check-deb-1 "$root12/root/classes.sqlite" ||
        fail "nubora1-server backup as root does not hold the class's save"
    "${in_root[@]}" nubora1-server class list | grep -q "/c/$key/" || fail "class list does not show the class"
    # The page at the link, and the class in the running server's database.
    cmp <(curl -fsS "http://127.0.0.1:$port/c/$key/") "$root12/usr/share/nubora1-server/site/index.html" ||
        fail "the pupils' link does not give the installed page"
    curl -fsS "http://127.0.0.1:$port/api/v1/classes/$key" | grep -q '"name":"３年２組"' ||
        fail "the running server does not know the class added as root"
    # Where systemd runs, `class` runs again through systemd-run as the service (the stand-in above).
    mkdir -p "$root12/run/systemd/system"
    "${in_root[@]}" nubora1-server class remove ３年２組 --yes >/dev/null || fail "class remove as root through systemd-run"
    rmdir "$root12/run/systemd/system"
    [ "$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port/api/v1/classes/$key")" = 404 ] ||
        fail "the class removed as root is still served"
    echo "nubora1-server installed in a clean Debian 12 root serves a class that root added (without systemd) and removed"
    # The unit as the root's own systemd reads it, the binary it starts included: a warning
    # (an option it cannot parse, ignored) fails it too. Its manual page is read above.
    "${in_root[@]}" sh -c "DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends systemd" \
        >"$work/apt.log" 2>&1 || { tail -n 20 "$work/apt.log"; fail "apt could not install systemd"; }
    verify=$("${in_root[@]}" systemd-analyze verify --man=no nubora1-server.service 2>&1) && [ -z "$verify" ] ||
        fail "systemd-analyze verify nubora1-server.service: $verify"
    "${in_root[@]}" apt-get purge -y -qq nubora1-server >"$work/apt.log" 2>&1 && [ ! -e "$root12/var/lib/nubora1-server" ] ||
        fail "purging nubora1-server leaves its classes behind"
else
    echo "SKIPPED: installing nubora1-server in a clean Debian 12 root needs root"
fi

dpkg-deb -x "$deb" "$work/root"
bash "$here/check_tree.sh" "$work/root" /usr "$version"
grep -q '^License: GPL-3+$' "$work/root/usr/share/doc/nubora1/copyright" || fail "copyright"

# The teacher's class list, open to all: an entry in the first range, whose list is not full,
# and entries in the others. The player's own data directory and home are given places of
# their own, where a save that missed the class list would land.
{
    record たなか 1; record_blank 4
    record すずき 50; record さとう 40; record TANAKA 30; record_blank 2
    record やまだ 12; record_blank 4
    record_blank 60
} >"$work/teacher.rnk"
rnk=$(ranking_file)
cp "$work/teacher.rnk" "$rnk"
chmod 0666 "$rnk"
inode=$(stat -c %i "$rnk")
start_session "$work/root/usr/games/nubora1" XDG_DATA_HOME="$work/data" HOME="$work/home"
window '^スタート$' >/dev/null
echo "the packaged game shows its start message"

dismiss_all
games=$(play_until_listed CLASS enter)
for _ in $(seq 50); do [ "$(head -c 5 "$rnk")" = CLASS ] && break; sleep 0.1; done
# The new entry heads the first range, the teacher's entry one place below it; every other
# byte as the teacher left it.
score=$(record_score "$rnk" 1)
{ record CLASS "$score"; record たなか 1; record_blank 3; tail -c +61 "$work/teacher.rnk"; } >"$work/expected.rnk"
cmp "$rnk" "$work/expected.rnk" || fail "the class's tavon.rnk does not hold the save beside the teacher's entries"
[ "$(stat -c '%i %a' "$rnk")" = "$inode 666" ] || fail "the save replaced the class's tavon.rnk or changed its mode"
[ -z "$(find "$work/data" "$work/home" -name tavon.rnk 2>/dev/null)" ] || fail "the copy saved into the player's own lists"
echo "the packaged game copied into a class folder saved CLASS ($score points, game $games) into its tavon.rnk"
