#!/bin/sh
# The installed Ansible module ovutil_stanza, run by ansible-playbook against localhost with the
# installed tool on PATH: the first run changes the file, the second changes nothing, check
# mode writes nothing and shows the diff, and a run beside concurrent edits of the tool loses
# none of them.
# Usage: ansible_test.sh PREFIX DATA_DIR WORK_DIR
set -u
prefix=$1
data=$2
work=$3
if ! command -v ansible-playbook >/dev/null 2>&1; then
    # CTest reads this line as a skip (SKIP_REGULAR_EXPRESSION); scripts/bootstrap installs it.
    echo "ansible_test: SKIPPED: ansible-playbook is not installed (Debian package ansible-core)"
    exit 0
fi
rm -rf "$work" && mkdir -p "$work/home" || exit 1
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
contains() {
    case $1 in *"$2"*) ;; *) fail "$3: '$2' not in: $1" ;; esac
}

# play PLAYBOOK [ARGS...]: runs it in a clean environment with the installed tool and module;
# sets $status and $out (standard output and error together).
play() {
    book=$1
    shift
    out=$(cd "$work" && env -i HOME="$work/home" PATH="$prefix/bin:/usr/bin:/bin" LANG=C.UTF-8 \
        ANSIBLE_LIBRARY="$prefix/share/ansible/plugins/modules" ANSIBLE_NOCOLOR=1 \
        ANSIBLE_LOCAL_TEMP="$work/home/tmp" ANSIBLE_RETRY_FILES_ENABLED=0 \
        timeout 240 ansible-playbook -i localhost, -e "dir=$work" \
        -e ansible_python_interpreter=/usr/bin/python3 "$@" "$book" 2>&1)
    status=$?
}
# recap NAME: the number NAME=N of the play recap.
recap() {
    printf '%s\n' "$out" | sed -n "s/^localhost .* $1=\([0-9]*\).*/\1/p"
}

cp "$data/sample.conf" "$work/t.conf"
cat >"$work/edit.yml" <<'YAML'
- hosts: localhost
  connection: local
  gather_facts: false
  tasks:
    - name: two servers, exactly
      ovutil_stanza: {path: "{{ dir }}/t.conf", stanza: manager, key: server,
                      values: [ldap9.example.com:636, ldap8.example.com:636]}
    - name: one value more
      ovutil_stanza: {path: "{{ dir }}/t.conf", stanza: ldap, key: host, value: "h 2",
                      exclusive: false}
    - name: a key gone
      ovutil_stanza: {path: "{{ dir }}/t.conf", stanza: manager, key: request-timeout,
                      state: absent}
    - name: a stanza gone
      ovutil_stanza: {path: "{{ dir }}/t.conf", stanza: ssl, state: absent}
    - name: a new file
      ovutil_stanza: {path: "{{ dir }}/new.conf", stanza: s, key: k, value: v}
    - name: nothing to remove in a missing file
      ovutil_stanza: {path: "{{ dir }}/none.conf", stanza: s, state: absent}
YAML
cat >"$work/expected.conf" <<'CONF'
# Manager settings.
[manager]
# Where the directory servers are.
server = ldap9.example.com:636
server = ldap8.example.com:636

[ldap]
host = h 2
CONF

# Check mode first: nothing written, the diff shown.
play edit.yml --check --diff
[ "$status" -eq 0 ] || fail "check mode run: status $status: $out"
cmp -s "$work/t.conf" "$data/sample.conf" || fail "check mode wrote the file: $(cat "$work/t.conf")"
[ -e "$work/new.conf" ] && fail "check mode made a new file"
contains "$out" "+server = ldap9.example.com:636" "check mode shows the diff"
contains "$out" "-ssl-keyfile = /var/Orvan/keytabs/ov.kdb" "check mode shows the stanza removal"
[ "$(recap changed)" = 5 ] || fail "check mode reports 5 changes: $(recap changed)"

play edit.yml
[ "$status" -eq 0 ] || fail "first run: status $status: $out"
[ "$(recap changed)" = 5 ] || fail "the first run changes 5 times: $out"
cmp -s "$work/t.conf" "$work/expected.conf" || fail "first run's file: $(cat "$work/t.conf")"
[ "$(cat "$work/new.conf" 2>/dev/null)" = "[s]
k = v" ] || fail "the new file: $(cat "$work/new.conf" 2>/dev/null)"
[ -e "$work/none.conf" ] && fail "state=absent made a missing file"

play edit.yml
[ "$status" -eq 0 ] || fail "second run: status $status: $out"
[ "$(recap changed)" = 0 ] || fail "the second run changes nothing: $out"
[ "$(recap ok)" = 6 ] || fail "the second run is ok 6 times: $(recap ok)"

# Backups, failures and a value the tool refuses.
cat >"$work/more.yml" <<'YAML'
- hosts: localhost
  connection: local
  gather_facts: false
  tasks:
    - ovutil_stanza: {path: "{{ dir }}/t.conf", stanza: manager, key: server,
                      value: ldap7.example.com:636, backup: true}
      register: r
    - assert: {that: [r.changed, "r.backup_file is defined"]}
    - ovutil_stanza: {path: "{{ dir }}/t.conf", stanza: manager, key: x, value: " padded"}
      register: bad
      ignore_errors: true
    - assert: {that: [bad.failed, "'0x35E5' in bad.msg or '0x1354' in bad.msg"]}
YAML
cp "$work/t.conf" "$work/t.before"
play more.yml
[ "$status" -eq 0 ] || fail "backup and failure run: $out"
found=""
for f in "$work"/t.conf.*~; do [ -f "$f" ] && found=$f; done
[ -n "$found" ] && cmp -s "$found" "$work/t.before" || fail "the backup holds the text before"

# Concurrency: a play that sets 20 keys one task at a time while the tool adds values to
# another key for as long as the play runs; every edit of both is in the file afterwards.
{
    echo "- hosts: localhost"
    echo "  connection: local"
    echo "  gather_facts: false"
    echo "  tasks:"
    echo "    - ovutil_stanza: {path: \"{{ dir }}/c.conf\", stanza: play, key: \"k{{ item }}\", value: \"{{ item }}\"}"
    echo "      loop: \"{{ range(20) | list }}\""
} >"$work/concurrent.yml"
printf '[play]\nseed = 1\n[tool]\nseed = 1\n' >"$work/c.conf"
rm -f "$work/stop"
(
    i=0
    while [ ! -e "$work/stop" ]; do
        env -i "$prefix/bin/ovutil" cfg add "$work/c.conf" tool v "$i" || echo "tool edit $i failed" >&2
        i=$((i + 1))
    done
    echo "$i" >"$work/tool-edits"
) &
writer=$!
play concurrent.yml
touch "$work/stop"
wait $writer
[ "$status" -eq 0 ] || fail "the concurrent run: $out"
keys=$(env -i "$prefix/bin/ovutil" cfg keys "$work/c.conf" play | grep -c '^k')
[ "$keys" -eq 20 ] || fail "the play's 20 keys are all there: $keys"
values=$(env -i "$prefix/bin/ovutil" cfg get "$work/c.conf" tool v | wc -l)
edits=$(cat "$work/tool-edits")
[ "$values" -eq "$edits" ] || fail "the tool's $edits values are all there: $values"
[ "$edits" -gt 0 ] || fail "the tool made no edit during the play"

if [ "$failures" -ne 0 ]; then
    echo "ansible_test: $failures failed" >&2
    exit 1
fi
echo "ansible_test: all passed"
