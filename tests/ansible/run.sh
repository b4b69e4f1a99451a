#!/bin/sh
# run.sh QDLCFG SOURCE_DIR [ANSIBLE_PLAYBOOK] - plays site.yml with the module tskqdl32.config.tskqdl32_config
# against localhost in a fresh machine (TSKQDL32_PREFIX): in check mode (the file stays as it
# was), for real (changed), again (nothing changed, the file not replaced), and with a bad value
# (the task fails naming the library status, the file stays as it was). The check run is
# verbose enough (-vvv) to print the module's arguments, where the password must be masked;
# logged.py runs the module as on a managed host and reads what it sends to syslog, where the
# password must never be. Exit 0 when all hold; 77 when there is no ansible-playbook.
set -eu
name="ansible test"
. "$(dirname "$0")/common.sh"
export TSKQDL32_PREFIX="$work/machine"
ini=$TSKQDL32_PREFIX/windows/tsk_cfg.ini
secret=Qx7-never-shown

play() {  # play EXPECTED_RC ARGS... ; output in $work/out
    want=$1; shift
    rc=0
    timeout 300 "$playbook" -i localhost, "$src/tests/ansible/site.yml" \
        -e "{\"qdlcfg\": \"$qdlcfg\", \"prefix\": \"$TSKQDL32_PREFIX\", \"secret\": \"$secret\"}" "$@" >"$work/out" 2>&1 || rc=$?
    [ "$rc" = "$want" ] || fail "ansible-playbook [$*] exited $rc, not $want"
}
changed() { sed -n 's/^localhost *:.* changed=\([0-9]*\).*/\1/p' "$work/out"; }
stamp() { stat -c '%i %y %s' "$ini"; }

printf '%s' '{"format": "tskqdl32-configuration", "version": 1,
  "devices": [{"name": "Old1", "ip_addr": "10.0.0.9"}],
  "modems": [{"name": "DialOld", "modem_phoneno": "5550100"}], "global": {"password": "old"}}' |
    "$qdlcfg" apply - >/dev/null || fail "seeding the machine failed"
cp "$ini" "$work/seeded.ini"

play 0 --check --diff -vvv
cmp -s "$ini" "$work/seeded.ini" || fail "check mode wrote the file"
[ "$(changed)" -eq 3 ] || fail "check mode: $(changed) changed tasks, not 3"
grep -q '^+baudrate = 9600' "$work/out" || fail "check mode: no diff of the fields"
grep -q '^+password = <hidden' "$work/out" || fail "check mode: the new password is no change"
! grep -q "$secret" "$work/out" || fail "the password was shown"

play 0 --diff
[ "$(changed)" -eq 3 ] || fail "first run: $(changed) changed tasks, not 3"
! grep -q "$secret" "$work/out" || fail "the password was shown"
for gone in "device Old1" "modem DialOld"; do
    # shellcheck disable=SC2086
    ! "$qdlcfg" show $gone >/dev/null 2>&1 || fail "$gone is still there"
done
"$qdlcfg" show modem DialNorth | grep -q 5550142 || fail "modem DialNorth was not added"
[ "$("$qdlcfg" get port LineA multisess) $("$qdlcfg" get modem DialNorth modem_break)" = \
  "no off" ] || fail "YAML's no and off did not reach the file as words"
before=$(stamp)

play 0
[ "$(changed)" -eq 0 ] || fail "second run: $(changed) changed tasks, not 0"
[ "$(stamp)" = "$before" ] || fail "second run replaced the file"

cp "$ini" "$work/applied.ini"
play 2 -e serial_port=COM9
grep -q 'QDL_ERR_BAD_PORT_NAME' "$work/out" || fail "the failure does not name the status"
cmp -s "$ini" "$work/applied.ini" || fail "a refused document changed the file"
play 2 -e rate=fast
grep -q "ports\[0\] (LineA): baudrate: 'fast' is not a number" "$work/out" ||
    fail "an unconvertible value does not name its record and field"
# legacy: the legacy library's file whatever the registry says, and its rules.
printf '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brenvik\\Fieldloom\\Configuration]\nkbRTTskCfgIni=plant.ini\n' \
    >"$TSKQDL32_PREFIX/registry.ini"
"$qdlcfg" where | grep -q 'plant\.ini' || fail "the registry value names no other file"
ansible=$(dirname "$(command -v "$playbook")")/ansible
legacy() {  # legacy EXPECTED_RC MODULE_ARGS; output in $work/out
    rc=0
    timeout 300 "$ansible" localhost -c local -m tskqdl32.config.tskqdl32_config \
        -a "qdlcfg=$qdlcfg prefix=$TSKQDL32_PREFIX legacy=true $2" >"$work/out" 2>&1 || rc=$?
    [ "$rc" = "$1" ] || fail "legacy [$2] exited $rc, not $1"
}
legacy 0 "kind=port name=Dial9 fields='{\"type\": \"kwt-serial\", \"modem_dial\": \"ATDT9\"}'"
grep -q '^MODEM_DIAL=ATDT9' "$ini" || fail "legacy: the port's dial string is not in tsk_cfg.ini"
[ ! -e "$TSKQDL32_PREFIX/windows/plant.ini" ] || fail "legacy: the registry's file was written"
legacy 2 "kind=modem name=DialX fields='{\"modem_dial\": \"1\"}'"
grep -q 'no modem records' "$work/out" || fail "legacy: a modem record is not refused as such"
python=$("$playbook" --version | sed -n 's/^ *python version = .*(\(.*\))$/\1/p')
"${python:-python3}" "$src/tests/ansible/logged.py" "$module" \
    "$qdlcfg" "$TSKQDL32_PREFIX" "$secret" >"$work/out" 2>&1 || fail "the module's log"
echo "ansible test: check, apply, idempotent second run, refusal and the log all hold"
