#!/bin/bash
# Every relative link in the project's Markdown lands: the file exists, and a
# #part names one of its headings (as the web view makes anchors of them).
#   check-links.sh SOURCE-DIR
set -euo pipefail
export LC_ALL=C.UTF-8
cd "$1"
slugs() {  # the anchors of a file's headings
    sed -n 's/^#\{1,6\} \+//p' "$1" | tr '[:upper:]' '[:lower:]' | sed 's/[^[:alnum:] _-]//g; s/ /-/g'
}
bad=0 links=0
for file in README.md docs/*.md vadapter/README.md; do
    while IFS= read -r target; do
        links=$((links + 1))
        path=${target%%#*} part=
        [[ $target == *#* ]] && part=${target#*#}
        dest=$file
        [[ -n $path ]] && dest=$(dirname "$file")/$path
        if [[ ! -e $dest ]]; then
            echo "$file: ($target): no file $dest"; bad=$((bad + 1))
        elif [[ -n $part ]] && ! slugs "$dest" | grep -qxF -- "$part"; then
            echo "$file: ($target): no heading $part in $dest"; bad=$((bad + 1))
        fi
    # Not in code: indented blocks and `spans`.
    done < <(grep -v '^    ' "$file" | sed 's/`[^`]*`//g' | grep -o '\](\([^)]*\))' | sed 's/^](//; s/)$//' |
             grep -v '^[a-z]*:' || true)
done
echo "links: $links checked, $bad broken"
[[ $bad -eq 0 && $links -gt 0 ]]
