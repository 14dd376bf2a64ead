#!/bin/sh
# The installed `ovutil` tool for scripts and configuration management: exit statuses, dry
# runs, diffs, JSON, backups, idempotent edits, edit scripts and fragments, standard input.
# Usage: automation_test.sh OVUTIL DATA_DIR WORK_DIR
# Every run of the tool gets an empty environment (env -i).
set -u
tool=$1
data=$2
work=$3
rm -rf "$work" && mkdir -p "$work" || exit 1
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# run ARGS...: runs the tool in $work with standard input from $work/in when it exists; sets
# $status, $out, $err.
run() {
    if [ -f "$work/in" ]; then
        (cd "$work" && env -i timeout 20 "$tool" "$@" <"$work/in" >"$work/out" 2>"$work/err")
    else
        (cd "$work" && env -i timeout 20 "$tool" "$@" </dev/null >"$work/out" 2>"$work/err")
    fi
    status=$?
    out=$(cat "$work/out")
    err=$(cat "$work/err")
}

# input TEXT: what the next runs read on standard input (printf format); `input` alone: none.
input() {
    if [ $# -eq 0 ]; then rm -f "$work/in"; else printf "$1" >"$work/in"; fi
}

expect() {
    [ "$status" -eq "$1" ] || fail "$2: status $status, expected $1 (stderr: $err)"
}

contains() {
    case $1 in *"$2"*) ;; *) fail "$3: '$2' not in: $1" ;; esac
}

same_file() {
    cmp -s "$1" "$2" || fail "$3: $(cat "$1")"
}

inode() { ls -i "$1" | cut -d' ' -f1; }

# --- exit status 3 for what is not there, 1 for a failure: one case per line,
# "STATUS|MESSAGE|ARGS" (ARGS split on blanks)
cp "$data/sample.conf" "$work/s.conf"
cp "$data/sample.conf" "$work/s.orig"
while IFS='|' read -r want msg args; do
    # shellcheck disable=SC2086
    run $args
    expect "$want" "$args"
    contains "$err" "$msg" "the message of: $args"
    [ -z "$out" ] || fail "$args prints nothing on standard output: $out"
done <<'CASES'
3|0x1354A203|cfg get s.conf manager absent
3|0x1354A203|cfg get s.conf nosuch server
3|0x1354A204|cfg keys s.conf nosuch
3|0x1354A204|cfg list s.conf nosuch
3|0x1354A203|cfg del s.conf manager absent
3|0x1354A203|cfg del s.conf manager server nosuch
3|0x1354A204|cfg del-stanza s.conf nosuch
3|0x1354A204|cfg rename-stanza s.conf nosuch other
1|0x35E5100D|cfg get missing.conf manager server
1|0x35E5100D|cfg set missing.conf manager server x
1|0x35E5100D|cfg del missing.conf manager server
1|0x1354A20D|cfg rename-stanza s.conf manager ssl
CASES
same_file "$work/s.conf" "$work/s.orig" "failed edits leave the file as it was"

# --- usage errors point at the help of the command concerned: "ARGS|HELP"
while IFS='|' read -r args help; do
    # shellcheck disable=SC2086
    run $args
    expect 2 "usage: $args"
    contains "$err" "0x1354A201" "usage message of: $args"
    contains "$err" "Run '$help' for usage." "the help named for: $args"
done <<'CASES'
cfg set s.conf manager|ovutil cfg set --help
cfg get --frob s.conf a b|ovutil cfg get --help
cfg list --prefix X s.conf manager|ovutil cfg list --help
cfg list --shell --prefix 9x s.conf manager|ovutil cfg list --help
cfg gett s.conf|ovutil cfg --help
cfg|ovutil cfg --help
frob|ovutil --help
CASES

# --- get --default, set --if-absent, add --unique, set of several values
run cfg get --default 30 s.conf manager absent
expect 0 "get --default of an absent key"; [ "$out" = "30" ] || fail "get --default: $out"
run cfg get --default 30 s.conf nosuch absent
expect 0 "get --default in an absent stanza"; [ "$out" = "30" ] || fail "get --default: $out"
run cfg get --default x s.conf manager request-timeout
[ "$out" = "30" ] || fail "get --default of a key that is there prints its value: $out"
run cfg get --default x missing.conf manager request-timeout
expect 1 "get --default of a missing file is still a failure"

# Each case: ARGS, then whether the file changes ("written" or "unchanged") and the values of
# the key afterwards (get, joined by spaces). One file goes through them in order.
cp "$data/sample.conf" "$work/i.conf"
while IFS='|' read -r args verdict stanza key values; do
    # shellcheck disable=SC2086
    run $args
    expect 0 "$args"
    case $verdict in
    written) contains "$err" ": written" "$args writes" ;;
    *) contains "$err" "unchanged, not written" "$args writes nothing" ;;
    esac
    run cfg get i.conf "$stanza" "$key"
    got=$(printf '%s\n' "$out" | tr '\n' ' ' | sed 's/ $//')
    [ "$got" = "$values" ] || fail "after $args: $stanza/$key is '$got', expected '$values'"
done <<'CASES'
cfg set -v --if-absent i.conf manager request-timeout 99|unchanged|manager|request-timeout|30
cfg set -v --if-absent i.conf manager new-key 5|written|manager|new-key|5
cfg add -v --unique i.conf manager server ldap2.example.com:636|unchanged|manager|server|ldap1.example.com:636 ldap2.example.com:636
cfg add -v --unique i.conf manager server ldap3:636|written|manager|server|ldap1.example.com:636 ldap2.example.com:636 ldap3:636
cfg set -v i.conf manager server a b c|written|manager|server|a b c
cfg set -v i.conf manager server a b c|unchanged|manager|server|a b c
cfg set -v i.conf manager server c b a|written|manager|server|c b a
cfg set -v i.conf manager server x|written|manager|server|x
CASES

# --- dry run, diff and JSON: the dry run writes nothing and shows what the write shows
cp "$data/sample.conf" "$work/d.conf"
before=$(inode "$work/d.conf")
run cfg set --dry-run --diff d.conf manager request-timeout 60
expect 0 "set --dry-run --diff"
dry=$out
contains "$dry" "--- d.conf" "the diff names the file"
contains "$dry" "-request-timeout = 30" "the diff removes the old line"
contains "$dry" "+request-timeout = 60" "the diff adds the new line"
same_file "$work/d.conf" "$data/sample.conf" "--dry-run writes nothing"
[ "$(inode "$work/d.conf")" = "$before" ] || fail "--dry-run keeps the file's inode"
run cfg set --json --dry-run d.conf manager request-timeout 60
[ "$out" = '{"file":"d.conf","changed":true,"written":false,"dry_run":true}' ] ||
    fail "set --json --dry-run: $out"
run cfg set --diff d.conf manager request-timeout 60
[ "$out" = "$dry" ] || fail "the real write shows the diff of the dry run: $out"
run cfg set --json --diff d.conf manager request-timeout 60
[ "$out" = '{"file":"d.conf","changed":false,"written":false,"dry_run":false,"diff":""}' ] ||
    fail "an unchanged set in JSON: $out"
run cfg del --json d.conf manager request-timeout
[ "$out" = '{"file":"d.conf","changed":true,"written":true,"dry_run":false}' ] ||
    fail "del --json: $out"
run cfg del --json --missing-ok d.conf manager request-timeout
contains "$out" '"changed":false' "a second del --missing-ok changes nothing"
# Every writing command takes the three options.
for args in "add d.conf m k v" "del --missing-ok d.conf m k" "del-stanza --missing-ok d.conf m" \
    "rename-stanza d.conf ssl tls" "apply d.conf -" "merge d.conf -"; do
    cp "$data/sample.conf" "$work/d.conf"
    case $args in
    merge*) input '[x]\ny = z\n' ;;
    *) input 'set x y z\n' ;;
    esac
    # shellcheck disable=SC2086
    run cfg $args --dry-run --diff --json
    expect 0 "$args --dry-run --diff --json"
    contains "$out" '"written":false' "$args --dry-run writes nothing"
    contains "$out" '"diff":' "$args --diff in JSON"
    same_file "$work/d.conf" "$data/sample.conf" "$args --dry-run leaves the file"
done
input

# --- --missing-ok accepts a missing file, and makes none
for args in "del --missing-ok none.conf s k" "del --missing-ok none.conf s k v" \
    "del-stanza --missing-ok none.conf s"; do
    # shellcheck disable=SC2086
    run cfg $args
    expect 0 "$args"
    { [ -e "$work/none.conf" ] || [ -L "$work/none.conf" ]; } && fail "$args made the file"
done

# --- --backup: the text before the write, beside the file, with its mode; none when nothing
# changes
cp "$data/sample.conf" "$work/b.conf"
chmod 640 "$work/b.conf"
run cfg set --backup b.conf manager request-timeout 61
expect 0 "set --backup"
same_file "$work/b.conf~" "$data/sample.conf" "the backup holds the text before the write"
[ "$(stat -c %a "$work/b.conf~")" = 640 ] || fail "the backup keeps the mode: $(stat -c %a "$work/b.conf~")"
run cfg set --backup=.orig --json b.conf manager request-timeout 62
contains "$out" '"backup":"b.conf.orig"' "the JSON result names the backup"
run cfg get b.conf.orig manager request-timeout
[ "$out" = 61 ] || fail "--backup=SUFFIX keeps the text before this write: $out"
run cfg set --backup=.none b.conf manager request-timeout 62
[ -e "$work/b.conf.none" ] && fail "an unchanged set makes no backup"
run cfg set --backup=/x b.conf manager request-timeout 63
expect 2 "a backup suffix with a slash"

# --- cfg apply: shell quoting, all or nothing, one store
cp "$data/sample.conf" "$work/a.conf"
cat >"$work/edits" <<'SCRIPT'
# Coupled settings go together.
set manager server 'ldap9.example.com:636' "ldap8.example.com:636"
set manager request-timeout 90   # a comment after a command

add ssl quoted 'h 2'
add ssl quoted "say \"hi\" \\ $HOME `x`"
add ssl quoted it\'s\ plain
add ssl quoted ''
set ssl long a \
  b
del-stanza --missing-ok old
SCRIPT
before=$(inode "$work/a.conf")
run cfg apply -v a.conf edits
expect 0 "apply of a good script"
contains "$err" ": written" "apply writes the file"
[ "$(inode "$work/a.conf")" != "$before" ] || fail "apply stored the file"
run cfg get -z a.conf ssl quoted
printf 'h 2\0say "hi" \\ $HOME `x`\0it'"'"'s plain\0\0' >"$work/expected"
printf '%s' "$out" >/dev/null
(cd "$work" && env -i "$tool" cfg get -z a.conf ssl quoted >"$work/got")
same_file "$work/got" "$work/expected" "apply takes words as a shell quotes them"
run cfg get a.conf manager server
[ "$out" = "ldap9.example.com:636
ldap8.example.com:636" ] || fail "apply of set with two values: $out"
run cfg get a.conf ssl long
[ "$out" = "a
b" ] || fail "a backslash and line break between words join the lines: $out"
cp "$work/a.conf" "$work/a.before"
# A script with a failing line leaves the file byte for byte as it was, with the status of
# the failure; a script that cannot be read is a usage error and reads no file.
while IFS='|' read -r script want msg; do
    input "$script"
    run cfg apply a.conf -
    expect "$want" "apply of: $script"
    contains "$err" "$msg" "apply names why: $script"
    same_file "$work/a.conf" "$work/a.before" "a failed apply leaves the file: $script"
done <<'CASES'
set manager x 1\ndel-stanza old\n|3|0x1354A221: The edit script - failed at line 2; none of its edits was made to the file a.conf.
set manager x 1\ndel-stanza old\n|3|0x1354A204: The file a.conf has no stanza old.
set manager x 1\nset manager y ' padded'\n|1|0x1354A221: The edit script - failed at line 2
set manager x 1\nrename-stanza manager ssl\n|1|0x1354A20D
\n\nset manager x 'open\n|2|0x1354A220: The edit script - is not valid at line 3: a single quote is not closed.
set manager x "open\n|2|a double quote is not closed
frob a b\n|2|unknown command 'frob'
set manager x\n|2|set takes 3 or more arguments, not 2
del-stanza --unique s\n|2|unknown option '--unique' of del-stanza
set manager x 1 \\|2|a backslash ends the script
CASES
input 'del --missing-ok manager nosuch\nset manager request-timeout 90\n'
run cfg apply --json a.conf -
[ "$out" = '{"file":"a.conf","changed":false,"written":false,"dry_run":false}' ] ||
    fail "a script that changes nothing: $out"
input 'set fresh k v\n'
run cfg apply none.conf -
expect 1 "apply to a missing file without --create"
run cfg apply --create none.conf -
expect 0 "apply --create"; run cfg get none.conf fresh k; [ "$out" = v ] || fail "apply --create: $out"
rm -f "$work/none.conf"
input

# --- cfg merge: the fragment's keys with its values, in its order
cp "$data/sample.conf" "$work/m.conf"
input '[manager]\nserver = m1\nserver = m2\n[new]\nk = v\n'
run cfg merge --diff m.conf -
expect 0 "merge from standard input"
contains "$out" "+server = m1" "merge shows its diff"
run cfg get m.conf manager server
[ "$out" = "m1
m2" ] || fail "merge sets every value of a key: $out"
run cfg get m.conf manager request-timeout
[ "$out" = 30 ] || fail "merge leaves the keys the fragment lacks: $out"
run cfg merge --json m.conf -
contains "$out" '"changed":false' "a second merge changes nothing"
input '[manager]\nbroken\n'
cp "$work/m.conf" "$work/m.before"
run cfg merge m.conf -
expect 1 "merge of a fragment with invalid data"
contains "$err" "0x35E5102B" "the fragment's invalid data is named"
contains "$err" "(file -, line 2)" "the fragment read from standard input is named -"
same_file "$work/m.conf" "$work/m.before" "a bad fragment changes nothing"
input

# --- reads from standard input, JSON and shell output
input '[s]\nk = 1\nk = 2\n[t]\nx = y\n'
run cfg get - s k;     [ "$out" = "1
2" ] || fail "get - : $out"
run cfg stanzas --json -; [ "$out" = '["s","t"]' ] || fail "stanzas --json -: $out"
run cfg keys --json - s;  [ "$out" = '["k"]' ] || fail "keys --json -: $out"
run cfg get --json - s k; [ "$out" = '["1","2"]' ] || fail "get --json -: $out"
run cfg check -;       expect 0 "check -"; contains "$out" "-: valid, 2 stanzas" "check -"
run cfg list --shell --prefix OV_ - s
[ "$out" = "OV_k='1
2'" ] || fail "list --shell --prefix: $out"
run cfg get --shell --prefix cfg_ - t x
[ "$out" = "cfg_x='y'" ] || fail "get --shell --prefix: $out"
input

# JSON of arbitrary bytes: quotes, backslashes, control characters, UTF-8 and bytes that are
# not UTF-8 (a lone surrogate escape each).
printf '[s\\"1]\nk = a"b\\\\c\t\001\nk = Gr\303\266\303\237e \377\300\200\n' >"$work/j.conf"
run cfg list --json j.conf
[ "$out" = '{"s\\\"1":{"k":["a\"b\\\\c\t\u0001","Größe \udcff\udcc0\udc80"]}}' ] ||
    fail "list --json of arbitrary bytes: $out"
if command -v python3 >/dev/null 2>&1; then
    # A JSON parser reads it, and the bytes come back exactly.
    (cd "$work" && env -i "$tool" cfg list --json j.conf) | python3 -c '
import json, sys
doc = json.load(sys.stdin)
raw = open(sys.argv[1], "rb").read()
values = [v.encode("utf-8", "surrogateescape") for v in doc["s\\\"1"]["k"]]
want = [line.split(b" = ", 1)[1] for line in raw.split(b"\n") if line.startswith(b"k = ")]
sys.exit(0 if values == want else 1)
' "$work/j.conf" || fail "list --json parses and gives back every byte"
    cp "$data/sample.conf" "$work/p.conf"
    (cd "$work" && env -i "$tool" cfg list --json p.conf) | python3 -c '
import json, sys
doc = json.load(sys.stdin)
sys.exit(0 if doc["manager"]["server"] == ["ldap1.example.com:636", "ldap2.example.com:636"]
         and list(doc) == ["manager", "ssl"] else 1)
' || fail "list --json keeps the order of stanzas and of a key's values"
else
    echo "automation_test: python3 is not installed; the JSON parser checks are skipped" >&2
fi

# --- b64: the same bytes as coreutils, for sizes around the block boundaries
if command -v base64 >/dev/null 2>&1; then
    for size in 0 1 2 3 196607 196608 196609 1000001; do
        head -c "$size" /dev/urandom >"$work/r.bin"
        (cd "$work" && env -i "$tool" b64 encode <r.bin >r.b64)
        { base64 -w0 "$work/r.bin"; echo; } >"$work/r.ref"
        same_file "$work/r.b64" "$work/r.ref" "b64 encode of $size bytes"
        (cd "$work" && env -i "$tool" b64 decode <r.b64 >r.back)
        same_file "$work/r.back" "$work/r.bin" "b64 decode of $size bytes"
        base64 -w 76 "$work/r.bin" >"$work/r.wrapped"
        (cd "$work" && env -i "$tool" b64 decode <r.wrapped >r.back)
        same_file "$work/r.back" "$work/r.bin" "b64 decode of $size bytes in lines"
    done
fi
# Decoding stops at the first "=": what follows is not data.
for case in 'aGVsbG8=Zm9v|hello' 'aGVsbG8|hello' 'aGVs bG8*=|hello' 'QQ==QUJD|A' 'Q|'; do
    printf '%s' "${case%%|*}" >"$work/in.b64"
    (cd "$work" && env -i "$tool" b64 decode <in.b64 >dec.out) || fail "b64 decode of ${case%%|*}"
    [ "$(cat "$work/dec.out")" = "${case#*|}" ] || fail "b64 decode of ${case%%|*}: $(cat "$work/dec.out")"
done

if [ "$failures" -ne 0 ]; then
    echo "automation_test: $failures failed" >&2
    exit 1
fi
echo "automation_test: all passed"
