# common.sh - sourced by the Ansible tests with `name` set: takes QDLCFG SOURCE_DIR
# [ANSIBLE_PLAYBOOK] as $1..$3 into qdlcfg, src and playbook, exits 77 when there is no
# ansible-playbook, makes the work folder $work (removed at exit), defines fail, and sends
# everything Ansible keeps under $work, never into ~/.ansible or a cwd ansible.cfg.
qdlcfg=$1 src=$2 playbook=${3:-ansible-playbook}
command -v "$playbook" >/dev/null || { echo "$name: $playbook not found (skipped)"; exit 77; }
work=$(mktemp -d "${TMPDIR:-/tmp}/qdl-ansible.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "$name: $*" >&2; [ -f "$work/out" ] && cat "$work/out" >&2; exit 1; }
: >"$work/ansible.cfg"
export ANSIBLE_CONFIG="$work/ansible.cfg" ANSIBLE_HOME="$work/home" \
    ANSIBLE_LOCAL_TEMP="$work/tmp" ANSIBLE_REMOTE_TEMP="$work/remote-tmp" \
    ANSIBLE_LIBRARY="$src/contrib/ansible/library" ANSIBLE_NOCOLOR=1 \
    ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_STDOUT_CALLBACK=default
