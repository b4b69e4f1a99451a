#!/bin/sh
# fleet.sh QDLCFG SOURCE_DIR [ANSIBLE_PLAYBOOK] - plays the README's fleet play (site.yml, taken
# from the README as it stands) twice against three hosts, each a machine of its own on this
# one (a Python wrapper per host sets its TSKQDL32_PREFIX). One host keeps a modem of its own.
# The first run changes every host, the second none (changed=0), and the host's own modem is
# still there. Exit 0 when all hold; 77 when there is no ansible-playbook.
set -eu
name="fleet test"
. "$(dirname "$0")/common.sh"
python=$("$playbook" --version | sed -n 's/^ *python version = .*(\(.*\))$/\1/p')
python=${python:-python3}

# The play exactly as the README shows it.
sed -n '/^# site.yml$/,/^```$/p' "$src/README.md" | sed '$d' >"$work/site.yml"
grep -q 'prune:' "$work/site.yml" || fail "no site.yml play in the README"

# The fleet's document: an export of a reference machine (it lists every kind, modems too).
mkdir -p "$work/files"
export TSKQDL32_PREFIX="$work/reference"
"$qdlcfg" add port LineA --type kwt-serial --port COM1 --baudrate 9600 >/dev/null
"$qdlcfg" add port PlantNet --type tcpip-eth --connect-timeout 2000 >/dev/null
"$qdlcfg" add device Pump7 --ip 192.168.20.17 --default-port PlantNet >/dev/null
"$qdlcfg" export >"$work/files/plant.json"

printf '[plant]\n' >"$work/inventory.ini"
for host in h1 h2 h3; do
    printf '#!/bin/sh\nTSKQDL32_PREFIX=%s PATH=%s:$PATH exec %s "$@"\n' \
        "$work/$host" "$(dirname "$qdlcfg")" "$python" >"$work/py-$host"
    chmod +x "$work/py-$host"
    printf '%s ansible_connection=local ansible_python_interpreter=%s dial_number=555014%s\n' \
        "$host" "$work/py-$host" "${host#h}" >>"$work/inventory.ini"
done
printf '[plant:vars]\nqdl_document=files/plant.json\n' >>"$work/inventory.ini"
TSKQDL32_PREFIX="$work/h3" "$qdlcfg" add modem Spare --dial ATDT9 >/dev/null
TSKQDL32_PREFIX="$work/h2" "$qdlcfg" add port Stale --type vme >/dev/null

run() {
    timeout 300 "$playbook" -i "$work/inventory.ini" "$work/site.yml" >"$work/out" 2>&1 ||
        fail "ansible-playbook exited $?"
}
changed() { sed -n "s/^$1 *:.* changed=\([0-9]*\).*/\1/p" "$work/out"; }

run
for host in h1 h2 h3; do
    [ "$(changed $host)" = 2 ] || fail "first run: $host changed $(changed $host) tasks, not 2"
done
run
for host in h1 h2 h3; do
    [ "$(changed $host)" = 0 ] || fail "second run: $host changed $(changed $host) tasks, not 0"
done
TSKQDL32_PREFIX="$work/h3" "$qdlcfg" show modem Spare >/dev/null || fail "h3 lost its own modem"
! TSKQDL32_PREFIX="$work/h2" "$qdlcfg" show port Stale >/dev/null 2>&1 ||
    fail "h2's stale port was not pruned"
[ "$(TSKQDL32_PREFIX="$work/h1" "$qdlcfg" get modem DialNorth modem_phoneno)" = 5550141 ] ||
    fail "h1's dial-up entry does not hold its number"
echo "fleet test: the README's play settles on the second run on three hosts"
