#!/bin/sh
# End-to-end cases of the installed `ovutil` tool.
# Usage: tool_test.sh OVUTIL DATA_DIR WORK_DIR
# Every run of the tool gets an empty environment (env -i), as a program started by an
# administrator's init system would.
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

# run ARGS...: runs the tool with an empty environment in $work; sets $status, $out, $err.
run() {
    (cd "$work" && env -i timeout 20 "$tool" "$@" >"$work/out" 2>"$work/err")
    status=$?
    out=$(cat "$work/out")
    err=$(cat "$work/err")
}

# expect STATUS DESCRIPTION: checks the status of the last run.
expect() {
    [ "$status" -eq "$1" ] || fail "$2: status $status, expected $1 (stderr: $err)"
}

# contains TEXT NEEDLE DESCRIPTION
contains() {
    case $1 in *"$2"*) ;; *) fail "$3: '$2' not in: $1" ;; esac
}

lacks() {
    case $1 in *"$2"*) fail "$3: '$2' should not be in: $1" ;; esac
}

# --- usage, help and version
run --help;                 expect 0 "--help"; contains "$out" "cfg" "--help lists cfg"
run --version;              expect 0 "--version"; contains "$out" "ovutil 1." "--version"
run;                        expect 2 "no subcommand"; contains "$err" "0x1354A201" "usage message number"
run frobnicate;             expect 2 "unknown subcommand"
run cfg get only-a-file;    expect 2 "missing arguments"
run msg zz;                 expect 2 "not a number"; contains "$err" "0x1354A206" "bad number message"

# --- cfg get / list
cp "$data/sample.conf" "$work/s.conf"
run cfg get s.conf manager server
expect 0 "get"
[ "$out" = "ldap1.example.com:636
ldap2.example.com:636" ] || fail "get prints every value in file order: $out"
run cfg get s.conf manager absent
expect 1 "get of an absent key"; contains "$err" "0x1354A203" "absent key message"
run cfg list s.conf ssl
expect 0 "list of a stanza"
[ "$out" = "[ssl]
ssl-keyfile = /var/Orvan/keytabs/ov.kdb" ] || fail "list of a stanza: $out"
run cfg list s.conf
contains "$out" "[manager]" "list of the file"; contains "$out" "request-timeout = 30" "list of the file"
run cfg list s.conf nosuch
expect 1 "list of an absent stanza"; contains "$err" "0x1354A204" "absent stanza message"

# --- cfg set / add / del: only the lines concerned change, comments stay
run cfg set s.conf manager request-timeout 60;  expect 0 "set"
run cfg add s.conf ssl ssl-local-domain "Größe=1"; expect 0 "add"
run cfg del s.conf manager server ldap1.example.com:636; expect 0 "del of a value"
# The removed value line takes the comment block directly above it along.
cat >"$work/expected.conf" <<'CONF'
# Manager settings.
[manager]
server = ldap2.example.com:636
request-timeout = 60

[ssl]
ssl-keyfile = /var/Orvan/keytabs/ov.kdb
ssl-local-domain = Größe=1
CONF
cmp -s "$work/s.conf" "$work/expected.conf" || fail "set/add/del result: $(cat "$work/s.conf")"
run cfg get s.conf ssl ssl-local-domain
[ "$out" = "Größe=1" ] || fail "a value is stored and read back byte for byte: $out"
run cfg del s.conf manager server nosuch;   expect 1 "del of an absent value"
run cfg del s.conf manager request-timeout; expect 0 "del of a key"
run cfg get s.conf manager request-timeout; expect 1 "the deleted key is gone"
run cfg set s.conf manager key " padded";  expect 1 "a value that would not read back"

# --- cfg check
run cfg check s.conf; expect 0 "check of a valid file"
cp "$data/invalid.conf" "$work/bad.conf"
run cfg check bad.conf
expect 1 "check of invalid data"
contains "$err" "0x35E5102B" "invalid data message number"
contains "$err" "bad.conf" "invalid data names the file"; contains "$err" "line 3" "invalid data names the line"
run cfg check missing.conf; expect 1 "check of a missing file"
mkfifo "$work/fifo.conf"
run cfg check fifo.conf; expect 1 "a FIFO is refused, not waited on"
run cfg get /dev/zero a b; expect 1 "a device is refused"

# --- cfg migrate
cp "$data/old-release.conf" "$work/old.conf"
cp "$data/old-release.conf" "$work/old.orig"
run cfg migrate --dry-run old.conf
expect 0 "migrate --dry-run"
contains "$out" "--- old.conf" "the diff names the file"
contains "$out" "+" "the diff adds lines"
cmp -s "$work/old.conf" "$work/old.orig" || fail "--dry-run leaves the file alone"
dry=$out
run cfg migrate old.conf
expect 0 "migrate"
[ "$out" = "$dry" ] || fail "migrate shows the same diff as --dry-run"
cmp -s "$work/old.conf" "$work/old.orig" && fail "migrate rewrote nothing"
run cfg migrate --dry-run old.conf
[ -z "$out" ] || fail "a migrated file needs no more change: $out"

# --- msg
run msg 0x1354A0C3 1354a0c7
expect 0 "msg"
contains "$out" "0x1354A0C3 The configuration file %s contains data that is not valid." "msg text"
contains "$out" "0x1354A0C7 " "second number"
run msg --utf8 0x1354A0C3; expect 0 "msg --utf8"
run msg 0x0BADF00D; expect 1 "unknown number"; contains "$err" "0x1354A207" "unknown number message"

# --- paths
run paths
expect 0 "paths"

# --- der dump: the trace masks the password
run der dump "$data/request.der"
expect 0 "der dump"
contains "$out" "alice" "trace shows the user"; contains "$out" "4711" "trace shows the subtree"
lacks "$out" "s3cret" "trace masks the password"; contains "$out" "********" "masked value"
(cd "$work" && env -i "$tool" der dump - <"$data/request.der" >"$work/out2" 2>&1) ||
    fail "der dump from standard input"
cmp -s "$work/out" "$work/out2" || fail "der dump of a file and of standard input agree"
printf '\060\003\001\002' >"$work/bad.der"
run der dump bad.der
expect 1 "der dump of bad input"; contains "$err" "0x1354A205" "bad wire message"

# --- b64: a round trip of every byte value
i=0
while [ $i -lt 256 ]; do
    # shellcheck disable=SC2059
    printf "\\$(printf %03o $i)"
    i=$((i + 1))
done >"$work/bytes"
(cd "$work" && env -i LC_ALL=C "$tool" b64 encode <bytes >b64.txt &&
    env -i "$tool" b64 decode <b64.txt >bytes.back) || fail "b64 encode/decode"
cmp -s "$work/bytes" "$work/bytes.back" || fail "b64 round trip"
printf 'aGVsbG8=' >"$work/hello.b64"
(cd "$work" && env -i "$tool" b64 decode <hello.b64 >hello.out) || fail "b64 decode"
[ "$(cat "$work/hello.out")" = "hello" ] || fail "b64 decode of a known text"

# --- value: the encoder's round trip
run value encode "s3cret!"
expect 0 "value encode"
case $out in "~^+"*) ;; *) fail "an encoded value starts with the marker: $out" ;; esac
encoded=$out
run value decode "$encoded"
[ "$out" = "s3cret!" ] || fail "value decode gives the value back: $out"
run value decode "plain"
[ "$out" = "plain" ] || fail "a plain value decodes to itself: $out"

if [ "$failures" -ne 0 ]; then
    echo "tool_test: $failures failed" >&2
    exit 1
fi
echo "tool_test: all passed"
