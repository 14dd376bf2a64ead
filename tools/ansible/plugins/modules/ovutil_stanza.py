#!/usr/bin/python
# -*- coding: utf-8 -*-
# The access-control product's stanza configuration files, edited through the ovutil tool.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: ovutil_stanza
short_description: Keys and stanzas of the product's stanza configuration files
description:
  - Sets, adds or removes values of a key, or removes a key or a whole stanza, in a stanza
    configuration file of the access-control product (C([stanza]) headers, C(key = value)
    lines, a key may hold several values, one per line).
  - Every edit is made by the C(ovutil) tool (C(ovutil cfg apply)), found on the C(PATH) of
    the managed host or given by I(executable). All edits of a task are one batch under the
    file's edit lock, the lock the product's programs take, and one store; the file keeps its
    layout, comments, owner and mode byte for byte outside the lines changed.
  - Reports C(changed) exactly when the file's bytes change. Supports check mode and diff
    mode.
options:
  path:
    description: The stanza file.
    type: path
    required: true
    aliases: [dest]
  stanza:
    description: The stanza's name.
    type: str
    required: true
  key:
    description:
      - The key. Without it, I(state=absent) removes the whole stanza.
    type: str
  value:
    description: One value; the same as I(values) with one item.
    type: str
  values:
    description:
      - The values of the key, in order.
      - With I(state=present) and I(exclusive=true) the key holds exactly these values; with
        I(exclusive=false) each value missing from the key is added after its last value.
      - With I(state=absent) every occurrence of each value is removed; without values the
        whole key is removed.
    type: list
    elements: str
  exclusive:
    description: With I(state=present), whether the key holds exactly I(values) (true) or at
      least them (false).
    type: bool
    default: true
  state:
    description: Whether the values (or key, or stanza) are there or not.
    type: str
    choices: [absent, present]
    default: present
  create:
    description: With I(state=present), make the file when it does not exist (mode 0666 less
      the umask). Otherwise a missing file fails the task.
    type: bool
    default: true
  backup:
    description: Before the file is changed, keep its old text beside it as
      C(PATH.YYYY-MM-DD@HH:MM:SS~).
    type: bool
    default: false
  executable:
    description: The ovutil tool to run; found on C(PATH) when not given.
    type: path
  wait:
    description: Seconds to wait for the file's edit lock while a program or another run holds
      it.
    type: float
    default: 30
notes:
  - A value may not start or end with a blank or hold a line break; a key may not hold C(=)
    or start with C(#) or C([). The tool refuses such names and values and changes nothing.
"""

EXAMPLES = r"""
- name: Two directory servers, in this order, and nothing else
  ovutil_stanza:
    path: /opt/Orvan/etc/ov.conf
    stanza: manager
    key: server
    values: [ldap1.example.com:636, ldap2.example.com:636]

- name: One more value, kept with the others
  ovutil_stanza:
    path: /opt/Orvan/etc/ov.conf
    stanza: ldap
    key: host
    value: ldap3.example.com
    exclusive: false

- name: Remove a stanza
  ovutil_stanza:
    path: /opt/Orvan/etc/ov.conf
    stanza: old-stanza
    state: absent
"""

RETURN = r"""
path:
  description: The file.
  type: str
  returned: always
backup_file:
  description: The backup made before the change.
  type: str
  returned: when I(backup=true) and the file changed
diff:
  description: The unified diff of the file (diff mode).
  type: dict
  returned: in diff mode
"""

import json
import os
import shlex
import time

from ansible.module_utils.basic import AnsibleModule


def quote(word):
    """A word of an edit script, quoted as a POSIX shell quotes it."""
    return shlex.quote(word)


def script_line(*words):
    return " ".join(quote(w) for w in words) + "\n"


def current_values(module, tool, path, stanza, key):
    """The values of the key now (an empty list when it is absent)."""
    rc, out, err = module.run_command(
        [tool, "cfg", "get", "--json", "--", path, stanza, key], encoding=None
    )
    if rc == 3:
        return []
    if rc != 0:
        module.fail_json(msg=err.decode("utf-8", "replace").strip(), rc=rc, path=path)
    return json.loads(out.decode("utf-8"))


def build_script(module, tool, path, exists):
    p = module.params
    stanza, key, state = p["stanza"], p["key"], p["state"]
    values = p["values"]
    if p["value"] is not None:
        values = [p["value"]]
    if state == "present":
        if key is None:
            module.fail_json(msg="state=present needs key and value or values")
        if not values:
            module.fail_json(msg="state=present needs value or values")
        if p["exclusive"]:
            return script_line("set", "--", stanza, key, *values)
        return "".join(script_line("add", "--unique", "--", stanza, key, v) for v in values)
    if key is None:
        return script_line("del-stanza", "--missing-ok", "--", stanza)
    if not values:
        return script_line("del", "--missing-ok", "--", stanza, key)
    # Each occurrence of each value: as many removals as the key holds it.
    held = current_values(module, tool, path, stanza, key) if exists else []
    lines = ""
    for v in dict.fromkeys(values):
        for _ in range(max(1, held.count(v))):
            lines += script_line("del", "--missing-ok", "--", stanza, key, v)
    return lines


def main():
    module = AnsibleModule(
        argument_spec=dict(
            path=dict(type="path", required=True, aliases=["dest"]),
            stanza=dict(type="str", required=True),
            key=dict(type="str"),
            value=dict(type="str"),
            values=dict(type="list", elements="str"),
            exclusive=dict(type="bool", default=True),
            state=dict(type="str", choices=["absent", "present"], default="present"),
            create=dict(type="bool", default=True),
            backup=dict(type="bool", default=False),
            executable=dict(type="path"),
            wait=dict(type="float", default=30.0),
        ),
        mutually_exclusive=[["value", "values"]],
        supports_check_mode=True,
    )
    p = module.params
    path = p["path"]
    tool = p["executable"] or module.get_bin_path("ovutil", required=True)
    exists = os.path.lexists(path)
    result = dict(changed=False, path=path)
    if not exists and (p["state"] == "absent" or not p["create"]):
        if p["state"] == "absent":
            module.exit_json(msg="the file does not exist; nothing to remove", **result)
        module.fail_json(msg="the file %s does not exist and create is false" % path, **result)

    script = build_script(module, tool, path, exists)
    command = [tool, "cfg", "apply", "--json", "--diff", "--wait", str(p["wait"])]
    if p["state"] == "present" and p["create"]:
        command.append("--create")
    if module.check_mode:
        command.append("--dry-run")
    if p["backup"]:
        command.append("--backup=." + time.strftime("%Y-%m-%d@%H:%M:%S~"))
    command += ["--", path, "-"]
    rc, out, err = module.run_command(
        command, data=script.encode("utf-8", "surrogateescape"), binary_data=True, encoding=None
    )
    if rc != 0:
        module.fail_json(
            msg=err.decode("utf-8", "replace").strip() or "ovutil failed",
            rc=rc,
            cmd=command,
            script=script,
            **result
        )
    outcome = json.loads(out.decode("utf-8"))
    result["changed"] = bool(outcome["changed"])
    if outcome.get("backup"):
        result["backup_file"] = outcome["backup"]
    if module._diff:
        result["diff"] = dict(prepared=outcome.get("diff", ""))
    module.exit_json(**result)


if __name__ == "__main__":
    main()
