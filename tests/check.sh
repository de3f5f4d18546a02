# shellcheck shell=bash
# Counting for the shell test suites. Source it, then:
#   check NAME COMMAND...   one test: passed when COMMAND succeeds ("ok   NAME" / "FAIL NAME")
#   summary                 prints "N passed, M failed" (the line scripts/test reads) and
#                           returns non-zero when anything failed
passed=0
failed=0
check() {
    local name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "ok   $name"
    else
        failed=$((failed + 1))
        echo "FAIL $name"
    fi
}
summary() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
