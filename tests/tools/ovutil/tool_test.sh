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

# nothing_at PATH DESCRIPTION: fails when something exists at PATH.
nothing_at() {
    { [ -e "$1" ] || [ -L "$1" ]; } && fail "$2: $1 exists"
}

# --- usage, help and version
run --help;                 expect 0 "--help"; contains "$out" "cfg" "--help lists cfg"
run --version;              expect 0 "--version"; contains "$out" "ovutil 1." "--version"
[ "$out" = "ovutil $(echo "$out" | sed -n 's/^ovutil \([0-9][0-9.]*\)$/\1/p')" ] ||
    fail "--version prints one line 'ovutil VERSION': $out"
if [ -w /dev/full ]; then
    env -i "$tool" --version >/dev/full 2>/dev/null
    [ $? -eq 1 ] || fail "--version that cannot be written fails"
    for args in "--help" "cfg get --help"; do
        # shellcheck disable=SC2086
        err=$(env -i "$tool" $args 2>&1 >/dev/full)
        status=$?
        expect 1 "$args that cannot be written"
        contains "$err" "0x1354A208: The output could not be written: No space left on device." \
            "$args that cannot be written names the reason"
    done
fi
# The tool carries the libraries' code: the loader maps none of the project's shared
# libraries into it, so their process-wide state never exists twice in one process.
loaded=$(env -i LD_TRACE_LOADED_OBJECTS=1 "$tool" 2>&1)
contains "$loaded" "libc.so" "the loader lists the tool's libraries"
for lib in libovutil libovz libovsvc libovmsg libovasn; do
    lacks "$loaded" "$lib." "the tool loads no $lib"
done
run
expect 2 "no subcommand"; contains "$err" "Usage: ovutil" "bare ovutil prints the usage"
contains "$err" "Subcommands:" "bare ovutil lists the commands"
# A wrong word where a command must stand is named, at every level.
# Each case: the command line, then what the error must name.
for case in "frobnicate|unknown command 'frobnicate'" "cfg gett|unknown command 'cfg gett'" \
    "der undump|unknown command 'der undump'" "value frob x|unknown command 'value frob'" \
    "b64 encode extra|extra"; do
    words=${case%%|*}
    # shellcheck disable=SC2086
    run $words
    expect 2 "wrong command: $words"; contains "$err" "0x1354A201" "usage message: $words"
    contains "$err" "${case#*|}" "the error names what is wrong: $words"
done
run cfg;                    expect 2 "cfg alone"; contains "$err" "needs one of: get," "cfg alone lists its commands"
run --version extra;        expect 2 "--version with an argument"
run --version cfg;          expect 2 "--version with a command"
run cfg get only-a-file;    expect 2 "missing arguments"
run msg zz;                 expect 2 "not a number"; contains "$err" "0x1354A206" "bad number message"
run cfg list --shell f.conf; expect 2 "--shell without a stanza"
run cfg get -z --shell f.conf s k; expect 2 "-z and --shell together"
run der dump --help
expect 0 "der dump --help"
for name in resourcepassword pwd password server_pwd; do
    contains "$out" "$name" "der dump --help names the masked name $name"
done

# --- cfg get / list
cp "$data/sample.conf" "$work/s.conf"
run cfg get s.conf manager server
expect 0 "get"
[ "$out" = "ldap1.example.com:636
ldap2.example.com:636" ] || fail "get prints every value in file order: $out"
run cfg get s.conf manager absent
expect 3 "get of an absent key"; contains "$err" "0x1354A203" "absent key message"
run cfg list s.conf ssl
expect 0 "list of a stanza"
[ "$out" = "[ssl]
ssl-keyfile = /var/Orvan/keytabs/ov.kdb" ] || fail "list of a stanza: $out"
run cfg list s.conf
contains "$out" "[manager]" "list of the file"; contains "$out" "request-timeout = 30" "list of the file"
run cfg list s.conf nosuch
expect 3 "list of an absent stanza"; contains "$err" "0x1354A204" "absent stanza message"
# A listing many times the size of the output buffer, in each form that streams: a file
# written as `cfg list` writes gives back its own bytes; -z is checked against the listing
# made by awk from the file, --json by a JSON parser.
awk 'BEGIN { for (s = 0; s < 300; s++) { if (s) print ""; printf "[part-%d]\n", s;
    for (k = 0; k < 20; k++) printf "key-%d = value %d.%d with some length to it\n", k, s, k } }' \
    >"$work/big.conf"
(cd "$work" && env -i "$tool" cfg list big.conf >big.out 2>big.err)
[ $? -eq 0 ] && cmp -s "$work/big.conf" "$work/big.out" ||
    fail "list of a 265 KB file gives back its bytes ($(cat "$work/big.err"))"
(cd "$work" && env -i "$tool" cfg list -z big.conf | tr '\0\n' '|~' >big.z)
awk '/^\[/ { s = substr($0, 2, length($0) - 2) } / = / { i = index($0, " = ");
    printf "%s~%s~%s|", s, substr($0, 1, i - 1), substr($0, i + 3) }' "$work/big.conf" >"$work/big.z.expected"
cmp -s "$work/big.z" "$work/big.z.expected" || fail "list -z of a 265 KB file"
if command -v python3 >/dev/null 2>&1; then
    (cd "$work" && env -i "$tool" cfg list --json big.conf >big.json)
    python3 -c 'import json, sys
d = json.load(open(sys.argv[1]))
assert list(d) == ["part-%d" % s for s in range(300)], "stanza order"
assert all(d["part-%d" % s]["key-%d" % k] == ["value %d.%d with some length to it" % (s, k)]
           for s in range(300) for k in range(20)), "values"' "$work/big.json" ||
        fail "list --json of a 265 KB file"
fi
if [ -w /dev/full ]; then
    (cd "$work" && env -i "$tool" cfg list big.conf >/dev/full 2>big.err)
    status=$?
    err=$(cat "$work/big.err")
    expect 1 "list to a full device"
    contains "$err" "0x1354A208: The output could not be written: No space left on device." \
        "list to a full device names the reason"
fi

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
run cfg del s.conf manager server nosuch;   expect 3 "del of an absent value"
run cfg del s.conf manager request-timeout; expect 0 "del of a key"
run cfg get s.conf manager request-timeout; expect 3 "the deleted key is gone"
run cfg set s.conf manager key " padded";  expect 1 "a value that would not read back"

# --- cfg check: every invalid line, as file:line: reason
run cfg check s.conf; expect 0 "check of a valid file"; contains "$out" "s.conf: valid, 2 stanzas" "check of a valid file"
cp "$data/invalid.conf" "$work/bad.conf"
run cfg check bad.conf
expect 1 "check of invalid data"
contains "$err" "bad.conf:3: " "invalid data names file and line"
contains "$err" "0x1354A20E" "invalid lines message number"
printf 'orphan = 1\n[a]\nk = v\nno equals sign\n# fine\n[]\n = no key\n[b]\nx = 1\n' >"$work/many.conf"
run cfg check many.conf
expect 1 "check of a file with several invalid lines"
reported=$(printf '%s\n' "$err" | grep -c '^many.conf:[0-9]*: ')
[ "$reported" -eq 4 ] || fail "check reports the 4 invalid lines, not $reported: $err"
for line in 1 4 6 7; do contains "$err" "many.conf:$line: " "check reports line $line"; done
contains "$err" "Lines with invalid data in the file many.conf: 4." "check counts the invalid lines"
# The first line reported is the line and reason that loading the file fails with.
run cfg get many.conf b x
expect 1 "a get of a file with invalid data"
contains "$err" "0x35E5102B" "invalid data message number"
contains "$err" "line 1" "loading names the first invalid line"

# --- errors name the file and the reason, under the number of their kind
run cfg get missing.conf a b
expect 1 "get of a missing file"
contains "$err" "0x35E5100D: The file missing.conf cannot be opened or read: No such file or directory." "a missing file"
mkfifo "$work/fifo.conf"
mkdir "$work/adir"
for name in fifo.conf /dev/zero adir; do
    run cfg check "$name"
    expect 1 "check of $name"
    contains "$err" "0x35E5100D: The file $name cannot be opened or read: " "a $name is refused, not read"
done
contains "$err" "Is a directory" "a directory is refused as such"
run cfg get fifo.conf a b
contains "$err" "not a regular file" "a FIFO is refused, not waited on"
run cfg set --create adir/none/new.conf s k v
expect 1 "set --create where the directory is missing"
contains "$err" "The file adir/none/new.conf cannot be" "a file that cannot be created is named"
contains "$err" "adir/none cannot be opened: No such file or directory." "the missing directory is the reason"

# Permissions do not stop root: those cases run as an unprivileged user.
unpriv=""
if [ "$(id -u)" -eq 0 ]; then
    if command -v setpriv >/dev/null 2>&1; then
        unpriv="setpriv --reuid=65534 --regid=65534 --clear-groups"
    else
        echo "tool_test: SKIPPED the permission cases: running as root without setpriv" >&2
    fi
fi
if [ "$(id -u)" -ne 0 ] || [ -n "$unpriv" ]; then
    # asuser ARGS...: run, as the unprivileged user when started as root.
    asuser() {
        (cd "$work" && $unpriv env -i timeout 20 "$tool" "$@" >"$work/out" 2>"$work/err")
        status=$?
        out=$(cat "$work/out")
        err=$(cat "$work/err")
    }
    mkdir "$work/ro" "$work/rw"
    cp "$data/sample.conf" "$work/ro/s.conf"
    cp "$data/old-release.conf" "$work/ro/old.conf"
    cp "$data/sample.conf" "$work/rw/secret.conf"
    chmod 000 "$work/rw/secret.conf"
    chmod 555 "$work/ro"
    asuser cfg get rw/secret.conf ssl ssl-keyfile
    expect 1 "get of an unreadable file"
    contains "$err" "0x35E5100D: The file rw/secret.conf cannot be opened or read: Permission denied." "an unreadable file"
    asuser cfg set ro/s.conf manager request-timeout 99
    expect 1 "set in a directory that cannot be written"
    contains "$err" "0x35E5100E: The file ro/s.conf cannot be written or stored: Permission denied." "an unwritable file"
    cmp -s "$work/ro/s.conf" "$data/sample.conf" || fail "a failed set leaves the file as it was"
    # The migration's store fails: the command fails with the file and the reason, also when
    # the library's own warning is routed nowhere.
    asuser cfg migrate ro/old.conf
    expect 1 "migrate of a file that cannot be stored"
    contains "$err" "cannot be written or stored: Permission denied." "migrate names the reason"
    contains "$err" "ro/old.conf" "migrate names the file"
    [ -z "$out" ] || fail "a failed migrate prints no diff: $out"
    (cd "$work" && $unpriv env -i OV_SVC_ROUTE_WARNING=DISCARD timeout 20 "$tool" cfg migrate ro/old.conf \
        >"$work/out" 2>"$work/err")
    status=$?
    expect 1 "migrate of a file that cannot be stored, warnings discarded"
    cmp -s "$work/ro/old.conf" "$data/old-release.conf" || fail "a failed migrate leaves the file as it was"
    # A writable file in a directory that refuses: the error names the directory.
    chmod 755 "$work/ro"
    cp "$data/sample.conf" "$work/ro/w.conf"
    chmod 666 "$work/ro/w.conf"
    chmod 555 "$work/ro"
    asuser cfg set ro/w.conf manager request-timeout 99
    expect 1 "set of a writable file in a directory that refuses"
    contains "$err" "The file ro/w.conf cannot be written or stored: its directory ro refuses: Permission denied." "the refusing directory is named"
    chmod 755 "$work/ro"
    # A file the user could not write in place is not replaced through a directory that lets
    # everyone make files.
    mkdir "$work/open"
    chmod 777 "$work/open"
    cp "$data/sample.conf" "$work/open/root.conf"
    chmod 644 "$work/open/root.conf"
    if [ "$(id -u)" -eq 0 ]; then
        before=$(stat -c '%i %U %a' "$work/open/root.conf")
        asuser cfg set open/root.conf manager request-timeout 99
        expect 1 "set of another user's file in a directory everyone may write"
        contains "$err" "The file open/root.conf cannot be written or stored: Permission denied." "the file and the reason are named"
        [ "$(stat -c '%i %U %a' "$work/open/root.conf")" = "$before" ] || fail "the refused file was replaced"
        cmp -s "$work/open/root.conf" "$data/sample.conf" || fail "a refused set changed the file"
    fi
fi

# --- what the administrator set on a file survives a write: ACL, attributes, group
if [ "$(id -u)" -eq 0 ] && command -v setfacl >/dev/null 2>&1 && command -v getfattr >/dev/null 2>&1; then
    cp "$data/sample.conf" "$work/acl.conf"
    chmod 640 "$work/acl.conf"
    chgrp 1 "$work/acl.conf"
    if setfacl -m u:65534:rw "$work/acl.conf" 2>/dev/null &&
        setfattr -n user.note -v kept "$work/acl.conf" 2>/dev/null; then
        acl=$(getfacl -n "$work/acl.conf"; getfattr -d "$work/acl.conf"; stat -c '%a %u %g' "$work/acl.conf")
        run cfg set acl.conf manager request-timeout 77
        expect 0 "set of a file with an ACL"
        [ "$(getfacl -n "$work/acl.conf"; getfattr -d "$work/acl.conf"; stat -c '%a %u %g' "$work/acl.conf")" = "$acl" ] ||
            fail "the ACL, attributes or group changed: $(getfacl -n "$work/acl.conf"; getfattr -d "$work/acl.conf")"
    else
        echo "tool_test: SKIPPED the ACL case: this file system takes no ACLs or user attributes" >&2
    fi
else
    echo "tool_test: SKIPPED the ACL case: needs root, setfacl (acl) and getfattr (attr)" >&2
fi

# --- --wait takes a finite number of seconds in range
for w in nan inf -inf -1 86401 1e400 x; do
    run cfg set --wait "$w" nofile.conf s k v
    expect 2 "--wait $w"
    contains "$err" "0x1354A201" "--wait $w is wrong usage"
done

# --- edits: unchanged values write nothing, new files, stanza delete and rename
cp "$data/sample.conf" "$work/e.conf"
inode() { ls -i "$1" | cut -d' ' -f1; }
before=$(inode "$work/e.conf")
touch -d '2001-01-01 00:00' "$work/e.conf"
run cfg set -v e.conf ssl ssl-keyfile /var/Orvan/keytabs/ov.kdb
expect 0 "set of the value already stored"
contains "$err" "unchanged, not written" "--verbose says nothing was written"
[ "$(inode "$work/e.conf")" = "$before" ] || fail "an unchanged set keeps the file's inode"
[ -n "$(find "$work/e.conf" -newermt '2001-01-02')" ] && fail "an unchanged set keeps the file's time"
run cfg set -v e.conf ssl ssl-keyfile /other.kdb
expect 0 "set of a new value"; contains "$err" "written" "--verbose says the file was written"
# A key with two values is not "unchanged" when one of them is the value set.
run cfg set e.conf manager server ldap1.example.com:636
run cfg get e.conf manager server
[ "$out" = "ldap1.example.com:636" ] || fail "set leaves the key one value: $out"
run cfg del e.conf manager nosuch;                 expect 3 "del of an absent key"
contains "$err" "0x1354A203" "del of an absent key names it"
run cfg del --missing-ok -v e.conf manager nosuch; expect 0 "del --missing-ok of an absent key"
contains "$err" "unchanged, not written" "del --missing-ok of an absent key writes nothing"
run cfg del --missing-ok e.conf nosuch k;          expect 0 "del --missing-ok in an absent stanza"
run cfg del --missing-ok e.conf manager server nosuch; expect 0 "del --missing-ok of an absent value"
run cfg del-stanza e.conf nosuch;                  expect 3 "del-stanza of an absent stanza"
contains "$err" "0x1354A204" "del-stanza of an absent stanza names it"
run cfg del-stanza --missing-ok e.conf nosuch;     expect 0 "del-stanza --missing-ok"
printf '# top\n\n# about a\n[a]  # first\nk = 1\n\n# about b\n[b]\nx = 2\n\n[a]\nk = 3\n' >"$work/st.conf"
run cfg rename-stanza st.conf a c;                 expect 0 "rename-stanza"
run cfg rename-stanza st.conf c b;                 expect 1 "rename-stanza onto an existing stanza"
contains "$err" "0x1354A20D: The file st.conf already has a stanza b." "rename onto an existing stanza"
run cfg rename-stanza st.conf nosuch d;            expect 3 "rename-stanza of an absent stanza"
run cfg rename-stanza st.conf c "bad] # name";     expect 1 "rename-stanza to a name that would not read back"
printf '# top\n\n# about a\n[c]  # first\nk = 1\n\n# about b\n[b]\nx = 2\n\n[c]\nk = 3\n' >"$work/st.expected"
cmp -s "$work/st.conf" "$work/st.expected" || fail "rename-stanza renames in place: $(cat "$work/st.conf")"
run cfg del-stanza st.conf c;                      expect 0 "del-stanza"
printf '# top\n\n# about b\n[b]\nx = 2\n\n' >"$work/st.expected"
cmp -s "$work/st.conf" "$work/st.expected" || fail "del-stanza removes every section: $(cat "$work/st.conf")"
run cfg set nofile.conf s k v;                     expect 1 "set of a missing file without --create"
nothing_at "$work/nofile.conf" "set without --create"
(cd "$work" && umask 027 && env -i "$tool" cfg set --create nofile.conf s k v) || fail "set --create"
[ "$(stat -c %a "$work/nofile.conf")" = 640 ] || fail "a new file gets 0666 less the umask: $(stat -c %a "$work/nofile.conf")"
[ "$(cat "$work/nofile.conf")" = "[s]
k = v" ] || fail "a new file holds the stanza and key: $(cat "$work/nofile.conf")"
run cfg add --create nofile.conf s k w;            expect 0 "add --create on an existing file"
ln -s "$work/nowhere.conf" "$work/dangling.conf"
run cfg set --create dangling.conf s k v;          expect 1 "set --create does not follow a dangling link"
contains "$err" "dangling.conf cannot be opened or read: it is a symbolic link to $work/nowhere.conf, which does not exist" "a dangling link's missing target is named"
nothing_at "$work/nowhere.conf" "set --create through a dangling link"

# --- output for scripts
printf '[s one]\nk-1 = a\nk-1 = it'"'"'s\n2k = =x\n[t]\nk = \n' >"$work/sc.conf"
run cfg stanzas sc.conf
[ "$out" = "s one
t" ] || fail "stanzas: $out"
(cd "$work" && env -i "$tool" cfg stanzas -z sc.conf | od -An -c | tr -s ' ' | tr -d '\n') >"$work/od"
[ "$(cat "$work/od")" = " s o n e \0 t \0" ] || fail "stanzas -z: $(cat "$work/od")"
run cfg keys sc.conf "s one"
[ "$out" = "k-1
2k" ] || fail "keys: $out"
run cfg keys sc.conf nosuch;  expect 3 "keys of an absent stanza"
(cd "$work" && env -i "$tool" cfg get -z sc.conf "s one" k-1 | od -An -c | tr -s ' ' | tr -d '\n') >"$work/od"
[ "$(cat "$work/od")" = " a \0 i t ' s \0" ] || fail "get -z: $(cat "$work/od")"
(cd "$work" && env -i "$tool" cfg list -z sc.conf t | od -An -c | tr -s ' ' | tr -d '\n') >"$work/od"
[ "$(cat "$work/od")" = " t \n k \n \0" ] || fail "list -z: $(cat "$work/od")"
run cfg list --shell sc.conf "s one"
expect 0 "list --shell"
# The assignments read back in a shell as the values, quotes and line breaks included.
k_1=unset _2k=unset
eval "$out"
[ "$k_1" = "a
it's" ] || fail "list --shell of a two-valued key: $k_1 (from $out)"
[ "$_2k" = "=x" ] || fail "list --shell of a key starting with a digit: $_2k (from $out)"
run cfg get --shell sc.conf t k
[ "$out" = "k=''" ] || fail "get --shell of an empty value: $out"
printf '[s]\na-b = 1\na_b = 2\n' >"$work/clash.conf"
run cfg list --shell clash.conf s
expect 1 "list --shell of two keys with one shell name"
contains "$err" "0x1354A20F" "a shell name clash is named"

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
# The rules of a particular file go by its absolute name, in the dry run as in the real one.
mkdir -p "$work/opt/Orvan/etc"
printf '[ssl]\nssl-keyfile = k\n' >"$work/opt/Orvan/etc/wvacld.conf"
cp "$work/opt/Orvan/etc/wvacld.conf" "$work/wvacld.orig"
(cd "$work/opt/Orvan/etc" && env -i "$tool" cfg migrate --dry-run wvacld.conf) >"$work/dry.out" ||
    fail "migrate --dry-run of wvacld.conf"
contains "$(cat "$work/dry.out")" "+ssl-client-connection-timeout = 30" "the dry run applies the file's own rules"
(cd "$work/opt/Orvan/etc" && env -i "$tool" cfg migrate wvacld.conf) >"$work/real.out" ||
    fail "migrate of wvacld.conf"
cmp -s "$work/dry.out" "$work/real.out" || fail "the dry run shows what the migration does"
# A scratch directory that cannot be made is named as such.
cp "$data/old-release.conf" "$work/old2.conf"
(cd "$work" && env -i TMPDIR="$work/no-such-dir" "$tool" cfg migrate --dry-run old2.conf \
    >"$work/out" 2>"$work/err")
status=$?
err=$(cat "$work/err")
expect 1 "migrate --dry-run without its TMPDIR"
contains "$err" "0x1354A20B: No scratch directory can be made in $work/no-such-dir (TMPDIR): No such file or directory." "a missing TMPDIR"

# --- inputs past their limit are refused before they are read or copied
truncate -s 3G "$work/huge.conf"
mkdir "$work/tmp"
(cd "$work" && env -i TMPDIR="$work/tmp" timeout 20 "$tool" cfg migrate --dry-run huge.conf \
    >"$work/out" 2>"$work/err")
status=$?
err=$(cat "$work/err")
expect 1 "migrate --dry-run of a file over the load limit"
contains "$err" "0x1354A209: The input huge.conf is too large: it holds more than 2147483631 bytes." "the load limit"
[ -z "$(ls -A "$work/tmp")" ] || fail "nothing is copied to TMPDIR: $(ls -A "$work/tmp")"
run cfg migrate huge.conf;  expect 1 "migrate of a file over the load limit"
contains "$err" "0x1354A209" "migrate refuses the file over the load limit"
truncate -s 5G "$work/huge.der"
run der dump huge.der;      expect 1 "der dump of a file over 4 GiB"
contains "$err" "it holds more than 4294967295 bytes" "the codec's limit"
(cd "$work" && env -i timeout 20 "$tool" der dump - <huge.der >"$work/out" 2>"$work/err")
status=$?
err=$(cat "$work/err")
expect 1 "der dump - of standard input over its limit"
contains "$err" "0x1354A209: The input - is too large" "der dump - refuses standard input over its limit"
rm -f "$work/huge.conf" "$work/huge.der"

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
run value decode "~^+A"
expect 1 "value decode of a value it cannot decode"
contains "$err" "0x1354A20A: The value ~^+A is not a valid encoded value." "undecodable value"
[ -z "$out" ] || fail "an undecodable value prints nothing on standard output: $out"

if [ "$failures" -ne 0 ]; then
    echo "tool_test: $failures failed" >&2
    exit 1
fi
echo "tool_test: all passed"
