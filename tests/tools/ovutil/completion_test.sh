#!/bin/bash
# The installed bash completion of the installed tool: every command and every option of the
# tool's own help is offered, and stanza and key names come from the file named.
# Usage: completion_test.sh PREFIX/bin/ovutil COMPLETION_FILE WORK_DIR
set -u
tool=$1
completion=$2
work=$3
rm -rf "$work" && mkdir -p "$work" || exit 1
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
[ -f "$completion" ] || { echo "FAIL: no completion at $completion" >&2; exit 1; }
# shellcheck disable=SC1090
. "$completion"
PATH=$(dirname "$tool"):$PATH

# offers WORDS...: the completions of the command line "ovutil WORDS..." (the last word is
# the one being completed).
offers() {
    COMP_WORDS=(ovutil "$@")
    COMP_CWORD=$#
    COMPREPLY=()
    _ovutil
    printf '%s\n' "${COMPREPLY[@]}"
}

subcommands() {
    env -i "$tool" "$@" --help | sed -n '/^Subcommands:/,/^$/p' | sed -n 's/^  \([a-z0-9-]*\) .*/\1/p'
}
options() {
    env -i "$tool" "$@" --help | sed -n '/^Options:/,/^$/p' |
        sed -n 's/^  \(-[^ ]*\).*/\1/p' | tr ',' '\n' | sed 's/{.*//' | grep -vx -- -h
}

check() {
    local subs sub opt offered
    subs=$(subcommands "$@")
    if [ -n "$subs" ]; then
        offered=$(offers "$@" "")
        for sub in $subs; do
            grep -qx -- "$sub" <<<"$offered" || fail "'ovutil $* ' does not offer $sub"
            check "$@" "$sub"
        done
        return
    fi
    offered=$(offers "$@" "-")
    for opt in $(options "$@"); do
        grep -qx -- "$opt" <<<"$offered" || fail "'ovutil $* -' does not offer $opt"
    done
}
check

printf '[manager]\nserver = a\nrequest-timeout = 1\n[ssl]\nk = v\n' >"$work/c.conf"
cd "$work" || exit 1
[ "$(offers cfg get c.conf m)" = manager ] || fail "stanza names: $(offers cfg get c.conf m)"
[ "$(offers cfg set c.conf manager r)" = request-timeout ] ||
    fail "key names: $(offers cfg set c.conf manager r)"
[ "$(offers cfg get --json c.conf s)" = ssl ] || fail "options are skipped: $(offers cfg get --json c.conf s)"
[ "$(offers cfg get c.c)" = c.conf ] || fail "file names: $(offers cfg get c.c)"

if [ "$failures" -ne 0 ]; then
    echo "completion_test: $failures failed" >&2
    exit 1
fi
echo "completion_test: all passed"
