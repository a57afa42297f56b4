# shellcheck shell=bash
# The check lines of scripts/test-mac-scripts and scripts/release-dry-run (sourced, not run): one
# "ok - WHAT" or "not ok - WHAT" a check, with the output of a failed one indented below it, and
# the counts in passed and failed. The sourcing script sets work to a folder of its own.

: "${work:?the sourcing script sets work to a folder of its own}"
passed=0
failed=0

# Runs a command as the check named WHAT: check WHAT COMMAND...
check() {
    local what="$1"
    shift
    if "$@" >"$work/out" 2>&1; then
        passed=$((passed + 1))
        echo "ok - $what"
    else
        failed=$((failed + 1))
        echo "not ok - $what"
        sed 's/^/    /' "$work/out"
    fi
}

# Runs a command, expecting exit status $1 and, when $2 is not empty, that text in its output.
expect() {
    local status="$1" text="$2" actual
    shift 2
    "$@" >"$work/expect" 2>&1
    actual=$?
    cat "$work/expect"
    [[ "$actual" == "$status" ]] || { echo "exit status $actual, expected $status"; return 1; }
    [[ -z "$text" ]] || grep -qF -- "$text" "$work/expect" || { echo "no \"$text\" in the output"; return 1; }
}
