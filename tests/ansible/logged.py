# logged.py MODULE QDLCFG PREFIX SECRET - runs the tskqdl32_config module as Ansible runs it on
# a managed host (in check mode), with what it sends to syslog caught, once for each way a
# password can be given: the password option is taken; a password in fields or config.global,
# or the option where it has no place, is refused. The secret must reach neither the log nor
# the module's answer. Run by run.sh with ansible-playbook's Python; exit 0 when all hold.
import contextlib
import io
import json
import runpy
import sys
import syslog

module_path, qdlcfg, prefix, secret = sys.argv[1:5]
logged = []
syslog.openlog = lambda *args, **kwargs: None
syslog.syslog = lambda *args: logged.append(args[-1])

import ansible.module_utils.basic as basic  # noqa: E402 (after syslog is caught)

basic.has_journal = False

CASES = [  # module arguments, the start of the failure message (None: it succeeds)
    ({'kind': 'global', 'fields': {'connect_timeout': 3000}, 'password': secret}, None),
    ({'config': {'global': {'request_timeout': 900}}, 'password': secret}, None),
    ({'config': {'global': {'password': secret}}}, 'a password in config.global'),
    ({'kind': 'global', 'fields': {'password': secret}}, 'a password in fields'),
    ({'kind': 'global', 'fields': 'connect_timeout=3000 password=' + secret},
     'a password in fields'),
    ({'kind': 'port', 'name': 'X', 'fields': {'type': 'vme'}, 'password': secret},
     'password goes with'),
    ({'config': {'ports': []}, 'password': secret}, 'password goes with'),
]

failures = []
for args, refusal in CASES:
    args = dict(args, qdlcfg=qdlcfg, prefix=prefix, _ansible_check_mode=True,
                _ansible_no_log=False)
    basic._ANSIBLE_ARGS = json.dumps({'ANSIBLE_MODULE_ARGS': args}).encode()
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        try:
            runpy.run_path(module_path, run_name='__main__')
        except SystemExit:
            pass
    answer = json.loads(out.getvalue())
    msg = answer.get('msg', '') if answer.get('failed') else None
    if (refusal is None) != (msg is None) or (refusal and not msg.startswith(refusal)):
        failures.append('%r: %s' % (args, msg or 'not refused'))
    if secret in out.getvalue():
        failures.append('%r: the password is in the answer' % args)

if len(logged) != len(CASES) or not all(m.startswith('Invoked with') for m in logged):
    failures.append('not one invocation logged per run: %r' % logged)
elif 'connect_timeout' not in logged[0]:
    failures.append('the log does not show the arguments: %r' % logged[0])
if any(secret in m for m in logged):
    failures.append('the password reached the log: %r' % logged)
for f in failures:
    print('logged.py: %s' % f, file=sys.stderr)
sys.exit(1 if failures else 0)
