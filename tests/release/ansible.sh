#!/bin/sh
# ansible.sh TARBALL - the released collection as a user takes it: installed offline with
# ansible-galaxy into a fresh collections path, its module's documentation rendered by
# ansible-doc (every option listed), and ansible-test sanity passing on the installed tree with
# Debian's Python (/usr/bin/python3, the one ansible runs on). ansible-test would fill a
# virtual environment per test from PyPI; ansible_test_offline.py gives the tests Debian's tools
# instead. Exit 0 when all hold.
set -eu
tarball=$(readlink -f "$1")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/qdl-collection.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "collection test: $*" >&2; [ -f "$work/out" ] && cat "$work/out" >&2; exit 1; }
export ANSIBLE_HOME="$work/home" ANSIBLE_LOCAL_TEMP="$work/tmp" ANSIBLE_NOCOLOR=1 \
    ANSIBLE_CONFIG="$work/ansible.cfg" ANSIBLE_COLLECTIONS_PATH="$work/collections" HOME="$work"
: >"$work/ansible.cfg"

ansible-galaxy collection install --offline -p "$work/collections" "$tarball" >"$work/out" 2>&1 ||
    fail "ansible-galaxy collection install failed"
ansible-galaxy collection list tskqdl32.config >"$work/out" 2>&1 || fail "not listed as installed"
version=$(basename "$tarball" .tar.gz | sed 's/^tskqdl32-config-//')
grep -q "^tskqdl32\.config  *$version *$" "$work/out" || fail "not installed as version $version"

ansible-doc tskqdl32.config.tskqdl32_config >"$work/out" 2>&1 || fail "ansible-doc failed"
for option in config src prune keep merge backup file kind name fields password state qdlcfg \
              prefix; do
    grep -q "^[-=] $option\b" "$work/out" || fail "ansible-doc does not list option $option"
done

# The interpreter ansible-test runs its tools with is found as `python` on the PATH.
mkdir "$work/bin"
ln -s /usr/bin/python3 "$work/bin/python"
ln -s /usr/bin/python3 "$work/bin/python3"
pyver=$(/usr/bin/python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')
cd "$work/collections/ansible_collections/tskqdl32/config"
PATH="$work/bin:/usr/bin:/bin" timeout 600 /usr/bin/python3 "$here/ansible_test_offline.py" \
    sanity --local --python "$pyver" --python-interpreter /usr/bin/python3 >"$work/out" 2>&1 ||
    fail "ansible-test sanity failed"
grep -q 'Running sanity test "validate-modules"' "$work/out" || fail "validate-modules did not run"
grep -q 'Running sanity test "pylint"' "$work/out" || fail "pylint did not run"
echo "collection test: installed offline, documented, sanity passes"
