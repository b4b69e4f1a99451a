#!/bin/sh
# run.sh QDLCFG SOURCE_DIR - runs every verb with --json in a fresh machine, keeps each document
# the tool writes (errors on stderr too) and validates them all against docs/json.schema.json
# (Debian's python3 with python3-jsonschema). Exit 77 when jsonschema is missing.
set -eu
q=$1 src=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/qdl-json.XXXXXX")
trap 'rm -rf "$work"' EXIT
export TSKQDL32_PREFIX="$work/machine"
n=0
out() {  # out ARGS...: stdout of a run that succeeds (or exits 1: get of an unset field)
    n=$((n + 1))
    "$q" --json "$@" >"$work/doc-$n.json" || [ $? = 1 ]
}
err() {  # err ARGS...: the error document of a run that fails
    n=$((n + 1))
    ! "$q" --json "$@" 2>"$work/doc-$n.json" >/dev/null
}
out version
out where
out add port LineA --type kwt-serial --port COM1 --baudrate 9600
out add device Pump --ip 10.0.0.7 --default-port Nowhere
out add modem Dial --dial ATDT --backup
out set port LineA --baudrate 19200 --backup
out set global --connect-timeout 800
out list
out list ports --key TYPE=KWT_SERIAL
out show port LineA
out show global
out export
cp "$work/doc-$n.json" "$work/exported.json"
out import --replace "$work/exported.json"
out apply --diff --prune=modems "$work/exported.json"
out apply --check "$work/exported.json"
out check
out delete modem Dial
err show port Nope
err add port 1x --type vme
err frobnicate
printf '[Bad]\nTYPE=STEAM\n' >>"$TSKQDL32_PREFIX/windows/tsk_cfg.ini"
out check  # problems found: exit 1, the report on stdout
# The tool's own export is an input document too: it must match, and so must the demo.
cp "$src/examples/demo.json" "$work/demo.json"
/usr/bin/python3 "$src/tests/json/validate.py" "$src/docs/json.schema.json" "$work"/*.json
