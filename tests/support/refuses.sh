# Sourced by the checks' refuses tables (tests/layers, tests/inspect): the
# verdict on one row. A row with no `expected` must pass; any other must
# exit 1 and say `expected`. Prints what differed, and returns 1, otherwise.
#   refuses_row NAME STATUS OUTPUT EXPECTED
refuses_row() {
    local name=$1 status=$2 output=$3 expected=$4
    if [ -z "$expected" ]; then
        [ "$status" -eq 0 ] && return 0
    elif [ "$status" -eq 1 ] && grep -qF -- "$expected" <<<"$output"; then
        return 0
    fi
    printf '%s: exit %d, expected %s\n%s\n' "$name" "$status" "${expected:-a pass}" "$output"
    return 1
}
