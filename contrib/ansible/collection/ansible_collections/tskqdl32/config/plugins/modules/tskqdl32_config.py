#!/usr/bin/python
# -*- coding: utf-8 -*-
# tskqdl32_config - makes a host's TSKQDL32 configuration hold given records, through
# `qdlcfg apply --json`. Needs ansible-core and the standard library only.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: tskqdl32_config
short_description: Make a host's TSKQDL32 communication configuration hold given records
description:
  - Drives C(qdlcfg apply --json) on the managed host. Records the document holds are added
    when missing and rewritten only when their fields differ; equal records are left alone and
    the file is not replaced, so a second run reports no change.
  - Give either a whole document (C(config) or C(src)) or one record (C(kind), C(name),
    C(fields), C(state)).
  - The password of the global parameters goes in C(password) only, which is never logged.
    A C(password) key in C(fields) or in C(config.global) is refused (before anything is
    logged), since Ansible would log those options in clear text on the managed host.
  - YAML turns C(yes), C(no), C(on) and C(off) into booleans; for the fields that take such
    words (C(multisess), C(modem_usedcanda) - yes/no; C(modem_break) - on/off) a boolean is
    given to the tool as its word.
  - Values come as inventories give them - a templated value is a string - and are converted
    by the field's type - digits to a number for number fields, booleans and yes/no/on/off to
    the field's word. A value that cannot be converted fails the task, naming the host, the
    record and the field.
  - All or nothing - when one record is refused, nothing is written.
options:
  config:
    description:
      - A whole configuration document, as C(qdlcfg export) writes it (keys C(ports),
        C(devices), C(modems), C(global), and C(absent) for records that must not exist).
        C(format) and C(version) are added when missing.
      - Its global parameters take their password from C(password), never from a
        C(password) key of C(global).
    type: dict
  src:
    description: Path of such a document (JSON) on the managed host.
    type: path
  prune:
    description:
      - Also delete the records, of the kinds the document holds, that it does not hold.
      - C(true) prunes every kind the document holds; a list (C([ports, devices])) only
        those kinds, so that a host's own records of the other kinds stay.
    type: raw
    default: false
  keep:
    description:
      - Names (patterns with C(*) and C(?), any letter case) that a prune never deletes.
    type: list
    elements: str
    default: []
  merge:
    description:
      - Fields that a record of the document (or C(fields)) leaves out keep their stored
        values, instead of being removed.
    type: bool
    default: false
  backup:
    description:
      - Keep the file as it was before a change, beside it as C(FILE.<UTC time>.bak); its
        path is returned as C(backup_file).
    type: bool
    default: false
  file:
    description:
      - This configuration file, instead of the one the registry value names.
    type: path
  legacy:
    description:
      - The legacy library's file and rules, as hosts built for the older interface see them
        (C(qdlcfg --legacy)) - C(tsk_cfg.ini) in the Windows directory whatever the registry
        says (or C(file)), no modem records, no C(modem_recordname) or C(assoc_device), a
        serial port's own C(modem_dial).
    type: bool
    default: false
  kind:
    description: The kind of the one record to manage.
    type: str
    choices: [port, device, modem, global]
  name:
    description: The record's name (not for C(kind=global)).
    type: str
  fields:
    description:
      - The record's fields, by the keys C(qdlcfg export) writes (C(type), C(port),
        C(connect_timeout), ...). The record is applied as one record of a document - it is
        made to hold exactly these fields, and a stored field not given here is removed (for
        C(kind=global) too, except the password, which changes only when given).
      - Never C(password); give it in the C(password) option.
    type: dict
    default: {}
  password:
    description:
      - The password of the global parameters, for C(kind=global) or for C(config) (which
        must then hold C(global)). Never logged nor shown. An empty text removes the
        password; left out, the stored password is kept.
    type: str
  state:
    description: Whether the record must exist (C(absent) deletes it when present).
    type: str
    choices: [present, absent]
    default: present
  qdlcfg:
    description: Path of the C(qdlcfg) tool; by default it is looked up on the PATH.
    type: path
  prefix:
    description: The configuration's prefix directory (C(TSKQDL32_PREFIX) for the tool).
    type: path
notes:
  - Supports check mode (nothing is written) and diff mode (before and after, field by field).
  - A password is never shown, neither in a diff nor in the module's arguments.
requirements: [qdlcfg with the apply verb]
author: TSKQDL32 maintainers (@tskqdl32)
'''

EXAMPLES = r'''
- name: Make the configuration equal to the fleet's document
  tskqdl32.config.tskqdl32_config:
    src: /etc/tskqdl32/site.json
    prune: true

- name: One port
  tskqdl32.config.tskqdl32_config:
    kind: port
    name: LineA
    fields: {type: kwt-serial, port: COM1, baudrate: 9600, parity: even}

- name: The global parameters, with the password from a vault
  tskqdl32.config.tskqdl32_config:
    kind: global
    fields: {connect_timeout: 3000, request_timeout: 5000}
    password: "{{ vault_tskqdl32_password }}"

- name: A modem without country and area code (YAML's no is taken as the word)
  tskqdl32.config.tskqdl32_config:
    kind: modem
    name: DialNorth
    fields: {modem_dial: ATDT, modem_phoneno: "5550142", modem_usedcanda: no}

- name: No modem DialSouth
  tskqdl32.config.tskqdl32_config:
    kind: modem
    name: DialSouth
    state: absent
'''

RETURN = r'''
backup_file:
  description: The backup of the file made before the change (with C(backup)), if one was.
  returned: changed and backup
  type: str
changes:
  description:
    - One entry per record added, updated or deleted (would be, in check mode), as
      C(qdlcfg apply --json) reports it. Field values are before/after pairs.
  returned: success
  type: list
  elements: dict
  sample: [{action: update, kind: port, name: LineA,
            fields: {baudrate: {before: 9600, after: 19200}}}]
'''

import json
import platform

from ansible.module_utils.basic import AnsibleModule
from ansible.module_utils.common.validation import check_type_dict

FORMAT = 'tskqdl32-configuration'
SECTIONS = {'port': 'ports', 'device': 'devices', 'modem': 'modems'}
HIDDEN = '<hidden>'
EXITS = {1: 'refused', 2: 'usage', 3: 'file error', 4: 'invalid document',
         5: 'library failure'}
# The words of the fields that take them, for YAML's booleans: (False, True).
WORDS = {'multisess': ('no', 'yes'), 'modem_usedcanda': ('no', 'yes'),
         'modem_break': ('off', 'on')}
TRUTHS = {'yes': True, 'true': True, 'on': True, 'no': False, 'false': False, 'off': False}
# The fields that hold numbers (the others hold texts, words or hexadecimal digits).
NUMBERS = frozenset(['connect_timeout', 'request_timeout', 'stopbits', 'baudrate', 'modem_turn',
                     'kwt_t1', 'kwt_t2', 'kwt_t3', 'kwt_t3p', 'kwt_t3pp', 'kwt_t4', 'kwt_t5',
                     'kwt_t5p', 'kwt_t5pp', 'bxln_channel', 'bxln_busadr', 'modem_deviceid'])
KINDS = ('ports', 'devices', 'modems')
MISPLACED = ('a password in %s would be written to the managed host\'s log: give it in the '
             'password option, which is never logged')


def as_dict(value):
    """An option's raw value as the dict it will be validated to, or None."""
    if isinstance(value, dict):
        return value
    if isinstance(value, str):
        try:
            return check_type_dict(value)
        except (TypeError, ValueError):
            return None
    return None


def take_password(params):
    """Takes a password key out of the raw fields and config.global; returns where it was."""
    found = []
    fields = as_dict(params.get('fields'))
    if fields is not None and 'password' in fields:
        params['fields'] = dict((k, v) for k, v in fields.items() if k != 'password')
        found.append('fields')
    config = as_dict(params.get('config'))
    if config is not None and isinstance(config.get('global'), dict) \
            and 'password' in config['global']:
        config = dict(config)
        config['global'] = dict((k, v) for k, v in config['global'].items() if k != 'password')
        params['config'] = config
        found.append('config.global')
    return found


class Module(AnsibleModule):
    """Takes a password out of fields and config.global as the arguments are loaded, before
    they are validated and logged: only the no_log option carries one."""
    misplaced = ()

    def _load_params(self):
        super(Module, self)._load_params()
        self.misplaced = take_password(self.params)


class Unconvertible(Exception):
    pass


def converted(record, where):
    """A record with its values as the fields take them: YAML's booleans and yes/no/on/off
    as the words of the fields that take words, digit strings as numbers for number fields,
    numbers as their digits for text fields."""
    out = dict(record)
    for key, value in record.items():
        field = key.lower().replace('-', '_')
        if field in WORDS:
            if isinstance(value, str) and value.strip().lower() in TRUTHS:
                value = TRUTHS[value.strip().lower()]
            if isinstance(value, bool):
                out[key] = WORDS[field][value]
        elif field in NUMBERS and not isinstance(value, bool) and value is not None:
            if isinstance(value, str):
                text = value.strip()
                if not text.isdigit():
                    raise Unconvertible('%s: %s: %r is not a number' % (where, key, value))
                out[key] = int(text)
            elif isinstance(value, float) and value.is_integer():
                out[key] = int(value)
        elif field != 'name' and isinstance(value, (int, float)) and not isinstance(value, bool):
            # A text field given a number (an inventory's 5550142): the text of the number.
            out[key] = str(int(value)) if float(value).is_integer() else str(value)
    return out


def record_label(section, index, record):
    name = record.get('name') if isinstance(record, dict) else None
    return '%s[%d]%s' % (section, index, ' (%s)' % name if name else '')


def build_document(p):
    """The document for one record, or the given document with its format filled in."""
    if p['config'] is not None:
        doc = dict(p['config'])
        for section in SECTIONS.values():
            if isinstance(doc.get(section), list):
                doc[section] = [converted(r, record_label(section, i, r))
                                if isinstance(r, dict) else r
                                for i, r in enumerate(doc[section])]
        if isinstance(doc.get('global'), dict):
            doc['global'] = converted(doc['global'], 'global')
    elif p['kind'] == 'global':
        doc = {'global': converted(p['fields'], 'global')}
    elif p['state'] == 'absent':
        doc = {'absent': {SECTIONS[p['kind']]: [p['name']]}}
    else:
        record = converted(p['fields'], '%s %s' % (p['kind'], p['name']))
        record['name'] = p['name']
        doc = {SECTIONS[p['kind']]: [record]}
    if p['password'] is not None:
        doc['global'] = dict(doc['global'], password=p['password'])
    doc.setdefault('format', FORMAT)
    doc.setdefault('version', 1)
    return doc


def field_lines(fields, side):
    lines = []
    for key in sorted(fields):
        value = fields[key].get(side)
        if value is not None:
            # A changed password must still show as a changed line.
            shown = json.dumps(value) if key != 'password' else (
                HIDDEN if side == 'before' else '<hidden, new>')
            lines.append('%s = %s\n' % (key, shown))
    return ''.join(lines)


def diff_of(changes):
    """Ansible's diff: one before/after text per changed record."""
    out = []
    for c in changes:
        title = c['kind'] if c.get('name') is None else '%s %s' % (c['kind'], c['name'])
        fields = c.get('fields') or {}
        out.append({'before_header': title, 'after_header': title,
                    'before': '' if c['action'] == 'add' else field_lines(fields, 'before'),
                    'after': '' if c['action'] == 'delete' else field_lines(fields, 'after')})
    return out


def error_of(rc, err):
    """The failure message, and the tool's error object when stderr carries one."""
    head = 'qdlcfg apply failed (exit %d, %s)' % (rc, EXITS.get(rc, 'unexpected'))
    for line in reversed(err.strip().splitlines()):
        try:
            e = json.loads(line)['error']
        except (ValueError, KeyError, TypeError):
            continue
        msg = '%s: %s' % (head, e.get('message'))
        if e.get('status_name'):
            msg += ' [%s, status %s]' % (e['status_name'], e.get('status'))
        return msg, e
    return '%s: %s' % (head, err.strip() or 'no message'), {}


def main():
    module = Module(
        argument_spec=dict(
            config=dict(type='dict'),
            src=dict(type='path'),
            prune=dict(type='raw', default=False),
            keep=dict(type='list', elements='str', default=[]),
            merge=dict(type='bool', default=False),
            backup=dict(type='bool', default=False),
            file=dict(type='path'),
            legacy=dict(type='bool', default=False),
            kind=dict(type='str', choices=['port', 'device', 'modem', 'global']),
            name=dict(type='str'),
            fields=dict(type='dict', default={}),
            password=dict(type='str', no_log=True),
            state=dict(type='str', choices=['present', 'absent'], default='present'),
            qdlcfg=dict(type='path'),
            prefix=dict(type='path'),
        ),
        mutually_exclusive=[('config', 'src', 'kind')],
        required_one_of=[('config', 'src', 'kind')],
        required_if=[('kind', 'port', ['name']), ('kind', 'device', ['name']),
                     ('kind', 'modem', ['name'])],
        supports_check_mode=True,
    )
    p = module.params
    # An AnsibleModule that no longer loads through _load_params: refused all the same.
    misplaced = module.misplaced or take_password(p)
    if misplaced:
        module.fail_json(msg=MISPLACED % ' and '.join(misplaced))
    if p['password'] is not None and not (
            p['kind'] == 'global' or isinstance((p['config'] or {}).get('global'), dict)):
        module.fail_json(msg='password goes with kind=global, or with a config that holds '
                             'global (a document in src carries its own)')
    if p['kind'] == 'global' and p['state'] == 'absent':
        module.fail_json(msg='the global parameters cannot be absent')
    if p['kind'] is None and (p['name'] or p['fields'] or p['state'] != 'present'):
        module.fail_json(msg='name, fields and state go with kind, not with config or src')

    tool = p['qdlcfg'] or module.get_bin_path('qdlcfg', required=True)
    args = [tool, 'apply', '--json']
    args += ['--check'] if module.check_mode else []
    args += ['--diff'] if module._diff else []
    prune = p['prune']
    if isinstance(prune, str) and prune.strip().lower() in TRUTHS:
        prune = TRUTHS[prune.strip().lower()]
    if isinstance(prune, str):
        prune = [k.strip() for k in prune.split(',') if k.strip()]
    if isinstance(prune, list):
        unknown = [k for k in prune if k not in KINDS]
        if unknown or not prune:
            module.fail_json(msg='prune: true, false or a list of %s (not %s)'
                             % (', '.join(KINDS), ', '.join(map(str, unknown)) or 'an empty list'))
        args.append('--prune=' + ','.join(prune))
    elif prune is True:
        args.append('--prune')
    elif prune is not False:
        module.fail_json(msg='prune: true, false or a list of %s' % ', '.join(KINDS))
    if p['keep'] and prune is False:
        module.fail_json(msg='keep goes with prune')
    for pattern in p['keep']:
        args += ['--keep', pattern]
    args += ['--merge'] if p['merge'] else []
    args += ['--backup'] if p['backup'] and not module.check_mode else []
    args += ['--file', p['file']] if p['file'] else []
    args += ['--legacy'] if p['legacy'] else []
    data = None
    if p['src']:
        args.append(p['src'])
    else:
        try:
            data = json.dumps(build_document(p))
        except Unconvertible as e:
            module.fail_json(msg='%s: %s' % (platform.node(), e))
        args.append('-')
    env = {'TSKQDL32_PREFIX': p['prefix']} if p['prefix'] else None

    rc, out, err = module.run_command(args, data=data, environ_update=env)
    if rc != 0:
        msg, error = error_of(rc, err)
        module.fail_json(msg=msg, rc=rc, error=error, stderr=err)
    try:
        report = json.loads(out)
        changes = report['changes']
        changed = bool(report['changed'])
    except (ValueError, KeyError, TypeError):
        module.fail_json(msg='qdlcfg apply gave no report: %s' % out.strip()[:300], rc=rc,
                         stderr=err)
    for warning in report.get('warnings') or []:
        module.warn('qdlcfg: %s' % warning)
    result = dict(changed=changed, changes=changes)
    if report.get('backup_file'):
        result['backup_file'] = report['backup_file']
    if module._diff:
        result['diff'] = diff_of(changes)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
