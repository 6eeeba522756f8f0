# -*- coding: utf-8 -*-
# Copyright (c) 2026 The Brennwerk-Editor developers
# SPDX-License-Identifier: MIT
#
# No "#!" line: Ansible runs a module with the target's Python either way, and
# Debian ships this file as data, not as a program of its own.

DOCUMENTATION = r'''
---
module: brennwerk_ini
short_description: Change keys and lists in Unreal Tournament's INI files with Brennwerk-Editor
description:
  - Changes keys and repeated keys (lists such as C(ServerPackages) and C(ServerActors))
    in the INI files of Unreal Tournament (1999) through the C(brennwerk-editor) command line,
    which must be installed on the target.
  - The file is read as the game reads it (Windows-1252 text, section and key names without
    regard to letter case, the first section and key of a name win) and only the lines that
    change are written; CR LF line ends, comments and every other line stay as they were.
  - Each task becomes one C(brennwerk-editor apply) script, so the whole task is one write of
    the file, all of it or nothing.
  - The options follow M(community.general.ini_file) where they mean the same; I(exclusive)
    and I(create) default to C(false) here (see there).
author:
  - Brennwerk-Editor developers
options:
  path:
    description:
      - The INI file on the target, for example C(/srv/ut/System/UnrealTournament.ini).
    type: path
    required: true
    aliases: [dest]
  section:
    description:
      - The section, without brackets (C(Engine.GameEngine)). Required unless I(script) is given.
    type: str
  option:
    description:
      - The key (C(ServerPackages)). Required unless I(script) is given.
    type: str
  value:
    description:
      - With C(state=present), the value the key gets (C(brennwerk-editor set)). A key of several
        lines is refused unless I(first) is set.
      - With C(state=absent), every line of the key with this value is removed.
    type: str
  values:
    description:
      - The values of a repeated key, one line each (C(ServerPackages)).
      - With C(state=present), each missing value gets a line of its own after the key's last
        line (C(brennwerk-editor add)); values are compared without regard to ASCII letter case,
        as the game compares package names. With C(exclusive=true), lines of the key with other
        values are removed too.
      - With C(state=absent), every line of the key with one of these values is removed.
    type: list
    elements: str
  exclusive:
    description:
      - With I(values) and C(state=present), C(true) removes the key's lines whose value is not
        in I(values); C(false) only adds the missing ones and leaves the others.
      - Unlike M(community.general.ini_file) the default is C(false), since a list such as
        C(ServerPackages) is shared by every mod of a server.
    type: bool
    default: false
  state:
    description:
      - C(present) sets I(value) or adds I(values).
      - C(absent) with I(value) or I(values) removes the lines with those values; without either,
        every line of the key (C(brennwerk-editor unset)).
      - Not used with I(script).
    type: str
    choices: [absent, present]
    default: present
  first:
    description:
      - With I(value), changes the first line of a key that has several, as the game's own
        Windows functions do (C(brennwerk-editor set --first)). Without it such a key is refused,
        since a value set on a list such as C(ServerActors) would replace its first line alone.
    type: bool
    default: false
  create:
    description:
      - Makes the file (in an existing folder) or the section when it does not exist
        (C(--create)). Without it a missing file or section fails the task, so that a typing
        mistake does not become a new section the game never reads.
    type: bool
    default: false
  script:
    description:
      - A whole C(brennwerk-editor apply) script instead of I(section), I(option) and the values
        options, made of C(set), C(add), C(remove) and C(unset) lines without the file, words quoted as a
        POSIX shell quotes them, C(#) starting a comment. All of it is one write.
    type: str
  executable:
    description:
      - The program to run. By default C(brennwerk-editor) found on the target's C(PATH).
    type: path
notes:
  - Check mode runs C(brennwerk-editor --dry-run); nothing is written and C(changed) says whether
    the run would change the file.
  - Diff mode shows the change as the program's unified diff.
  - C(changed) is true exactly when the bytes of the file changed.
requirements:
  - brennwerk-editor 2.3 or newer on the target
seealso:
  - module: community.general.ini_file
'''

EXAMPLES = r'''
- name: MyMod's package is sent to every client
  brennwerk_ini:
    path: /srv/ut/System/UnrealTournament.ini
    section: Engine.GameEngine
    option: ServerPackages
    values: [MyMod]

- name: MyMod's actor runs on the server, with its settings in one value
  brennwerk_ini:
    path: /srv/ut/System/UnrealTournament.ini
    section: Engine.GameEngine
    option: ServerActors
    values: ['MyMod.MyActor Speed=2']

- name: The message of the day
  brennwerk_ini:
    path: /srv/ut/System/UnrealTournament.ini
    section: Engine.GameReplicationInfo
    option: MOTDLine1
    value: Now with MyMod

- name: The mod taken out again
  brennwerk_ini:
    path: /srv/ut/System/UnrealTournament.ini
    section: Engine.GameEngine
    option: ServerPackages
    values: [MyMod]
    state: absent

- name: Several changes in one write
  brennwerk_ini:
    path: /srv/ut/System/UnrealTournament.ini
    script: |
      add Engine.GameEngine ServerPackages MyMod
      add Engine.GameEngine ServerActors 'MyMod.MyActor Speed=2'
      set Engine.GameEngine CacheSizeMegs 64
'''

RETURN = r'''
path:
  description: The file that was edited.
  returned: always
  type: str
  sample: /srv/ut/System/UnrealTournament.ini
script:
  description: The apply script the program was given.
  returned: always
  type: str
  sample: "add -- Engine.GameEngine ServerActors 'MyMod.MyActor Speed=2'"
rc:
  description: The program's exit status.
  returned: always
  type: int
  sample: 0
stderr:
  description: What the program said on standard error (a write it recovered after a crash, a lock it waited for).
  returned: always
  type: str
  sample: ''
'''

import os
import shlex

from ansible.module_utils.basic import AnsibleModule


def quoted(word):
    # The script reads words as a POSIX shell does, and shlex quotes for one:
    # single quotes around anything but plain ASCII, and a quote itself
    # inside double quotes, where the script expands nothing either.
    return shlex.quote(word)


def command(name, *words, **flags):
    parts = [name]
    if flags.get('first'):
        parts.append('--first')
    # A value that starts with "-" is no option.
    parts.append('--')
    parts.extend(quoted(word) for word in words)
    return ' '.join(parts) + '\n'


def ascii_folded(value):
    # As the program compares list values: blanks at the ends are no part of
    # a value, and only ASCII letters match across case.
    return ''.join(chr(ord(c) + 32) if 'A' <= c <= 'Z' else c for c in value.strip(' \t'))


def read_bytes(path):
    try:
        with open(path, 'rb') as f:
            return f.read()
    except FileNotFoundError:
        return None


def text_of(data):
    # The diff's lines of the file are in the file's own code page, its names
    # in UTF-8: each line as the text it most likely is.
    lines = []
    for line in data.splitlines(True):
        try:
            lines.append(line.decode('utf-8'))
        except UnicodeDecodeError:
            lines.append(line.decode('cp1252', errors='replace'))
    return ''.join(lines)


def current_values(module, executable, path, section, option):
    rc, out, err = module.run_command(
        [executable, 'get', '--all', '--', path, section, option],
        encoding=None, expand_user_and_vars=False)
    # Status 1 is a missing key, file or section: none of its values, and
    # the apply that follows names what is missing.
    if rc not in (0, 1):
        module.fail_json(msg=text_of(err).strip() or 'brennwerk-editor get failed with status %d' % rc, rc=rc,
                         stderr=text_of(err), path=path, script='')
    if rc != 0:
        return []
    return text_of(out).split('\n')[:-1]


def build_script(module, executable):
    p = module.params
    path, section, option = p['path'], p['section'], p['option']
    value, values, state = p['value'], p['values'], p['state']
    if p['script'] is not None:
        return p['script'] if p['script'].endswith('\n') else p['script'] + '\n'
    if not section or not option:
        module.fail_json(msg='section and option are required unless script is given')
    if p['first'] and value is None:
        module.fail_json(msg='first goes with value')
    for word in [section, option] + ([value] if value is not None else []) + (values or []):
        # The file cannot hold them, and a line break would end the script's line.
        if '\n' in word or '\r' in word:
            module.fail_json(msg='%r holds a line break, which a line of an INI file cannot hold' % word)
    if state == 'absent':
        if value is None and values is None:
            return command('unset', section, option)
        return ''.join(command('remove', section, option, v) for v in ([value] if values is None else values))
    if value is not None:
        return command('set', section, option, value, first=p['first'])
    if values is None:
        module.fail_json(msg='state=present needs value or values')
    script = ''
    if p['exclusive']:
        # Read before the write, outside its lock: a line another writer adds
        # in between stays, as it would had it come just after.
        seen = set(ascii_folded(v) for v in values)
        for v in current_values(module, executable, path, section, option):
            if ascii_folded(v) not in seen:
                seen.add(ascii_folded(v))
                script += command('remove', section, option, v)
    return script + ''.join(command('add', section, option, v) for v in values)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            path=dict(type='path', required=True, aliases=['dest']),
            section=dict(type='str'),
            option=dict(type='str'),
            value=dict(type='str'),
            values=dict(type='list', elements='str'),
            exclusive=dict(type='bool', default=False),
            state=dict(type='str', default='present', choices=['absent', 'present']),
            first=dict(type='bool', default=False),
            create=dict(type='bool', default=False),
            script=dict(type='str'),
            executable=dict(type='path'),
        ),
        mutually_exclusive=[
            ['value', 'values'],
            ['script', 'section'],
            ['script', 'option'],
            ['script', 'value'],
            ['script', 'values'],
        ],
        supports_check_mode=True,
    )
    p = module.params
    path = os.path.abspath(p['path'])
    executable = p['executable'] or module.get_bin_path('brennwerk-editor', required=True)

    script = build_script(module, executable)
    result = dict(changed=False, path=path, script=script, rc=0, stderr='')

    args = [executable, 'apply']
    if p['create']:
        args.append('--create')
    if module.check_mode:
        args.append('--dry-run')
    elif module._diff:
        args.append('--diff')
    args += ['--', path, '-']

    before = None if module.check_mode else read_bytes(path)
    rc, out, err = module.run_command(args, data=script.encode('utf-8'), binary_data=True,
                                      encoding=None, expand_user_and_vars=False)
    result.update(rc=rc, stderr=text_of(err))
    if rc != 0:
        result.pop('changed')
        module.fail_json(msg=text_of(err).strip() or 'brennwerk-editor apply failed with status %d' % rc, **result)
    for line in text_of(err).splitlines():
        module.warn(line)

    diff = text_of(out)
    if module.check_mode:
        result['changed'] = bool(diff)
    else:
        result['changed'] = read_bytes(path) != before
    if module._diff and diff:
        result['diff'] = dict(prepared=diff)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
