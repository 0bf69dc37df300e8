#!/bin/bash
# check-layers.sh fails on what it must refuse: each row is one source file
# in ui/ of a scratch tree, and the check must name its line; the rows
# without a message pass.
#   check-layers-refuses.sh
set -uo pipefail
check=$(dirname "$0")/check-layers.sh
# shellcheck source=../support/refuses.sh
. "$(dirname "$0")/../support/refuses.sh"
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT

# name | ui/Row.cpp (printf format) | files beside it | what the check must say ("" = it passes)
rows=(
    'quoted system header|#include "windows.h"\n||Row.cpp:1: #include "windows.h"'
    'computed include|#define SYSTEM <windows.h>\n#include SYSTEM\n||Row.cpp:2: #include SYSTEM'
    'empty name|#include ""\n||Row.cpp:1: #include ""'
    'no name|#include\n||Row.cpp:1: #include'
    'quoted name of another folder|#include "Console.h"\n|cli/Console.h|Row.cpp:1: #include "Console.h"'
    'system header in brackets|#include <windows.h>\n||Row.cpp:1: #include <windows.h>'
    'neighbour|#include "Row.h"\n|ui/Row.h|'
    'neighbour made from a template|#include "RowVersion.h"\n|ui/RowVersion.h.in|'
    'the C++ library|#include <vector>\n||'
    'a layer it may use|#include "platform/Window.h"\n|platform/Window.h|'
)
failed=0
for row in "${rows[@]}"; do
    IFS='|' read -r name source beside expected <<<"$row"
    tree=$work/${name// /-}
    mkdir -p "$tree/ui"
    # shellcheck disable=SC2059  # the row is the format
    printf "$source" >"$tree/ui/Row.cpp"
    [ -z "$beside" ] || { mkdir -p "$tree/$(dirname "$beside")" && : >"$tree/$beside"; }
    output=$(bash "$check" "$tree" 2>&1)
    status=$?
    refuses_row "$name" "$status" "$output" "$expected" || failed=$((failed + 1))
done
echo "check-layers refuses: $((${#rows[@]} - failed)) of ${#rows[@]} rows as expected"
[ "$failed" -eq 0 ]
