# common.sh - sourced by the Ansible tests with `name` set: takes QDLCFG SOURCE_DIR
# [ANSIBLE_PLAYBOOK] as $1..$3 into qdlcfg, src and playbook, exits 77 when there is no
# ansible-playbook, makes the work folder $work (removed at exit), defines fail, and sends
# everything Ansible keeps under $work, never into ~/.ansible or a cwd ansible.cfg. The module
# is played as users get it: the collection tskqdl32.config, built from the source tree with
# ansible-galaxy (or the release's tarball named by QDL_ANSIBLE_COLLECTION) and installed offline
# into $work/collections.
qdlcfg=$1 src=$2 playbook=${3:-ansible-playbook}
command -v "$playbook" >/dev/null || { echo "$name: $playbook not found (skipped)"; exit 77; }
work=$(mktemp -d "${TMPDIR:-/tmp}/qdl-ansible.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "$name: $*" >&2; [ -f "$work/out" ] && cat "$work/out" >&2; exit 1; }
: >"$work/ansible.cfg"
export ANSIBLE_CONFIG="$work/ansible.cfg" ANSIBLE_HOME="$work/home" \
    ANSIBLE_LOCAL_TEMP="$work/tmp" ANSIBLE_REMOTE_TEMP="$work/remote-tmp" \
    ANSIBLE_COLLECTIONS_PATH="$work/collections" ANSIBLE_NOCOLOR=1 \
    ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_STDOUT_CALLBACK=default
galaxy=$(dirname "$(command -v "$playbook")")/ansible-galaxy
tarball=${QDL_ANSIBLE_COLLECTION:-}
if [ -z "$tarball" ]; then
    "$galaxy" collection build --output-path "$work/dist" \
        "$src/contrib/ansible/collection/ansible_collections/tskqdl32/config" >"$work/out" 2>&1 ||
        fail "ansible-galaxy collection build failed"
    tarball=$(echo "$work"/dist/tskqdl32-config-*.tar.gz)
fi
"$galaxy" collection install --offline -p "$work/collections" "$tarball" >"$work/out" 2>&1 ||
    fail "ansible-galaxy collection install $tarball failed"
module=$work/collections/ansible_collections/tskqdl32/config/plugins/modules/tskqdl32_config.py
[ -f "$module" ] || fail "the installed collection has no tskqdl32_config module"
rm -f "$work/out"
