# The packaging tests' one-line results, sourced by each: `check NAME COMMAND...` runs the
# command, prints "ok - NAME" or "FAILED - NAME" with its output indented, and counts.
passed=0
failed=0
check() {
    local name=$1
    shift
    local output
    if output=$("$@" 2>&1); then
        echo "ok - $name"
        passed=$((passed + 1))
    else
        echo "FAILED - $name"
        [ -n "$output" ] && printf '%s\n' "$output" | sed 's/^/    /'
        failed=$((failed + 1))
    fi
}
