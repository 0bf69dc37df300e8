#!/bin/bash
# Every relative link in the project's Markdown lands: the file exists, and a
# #part names one of its headings (as the web view makes anchors of them).
#   check-links.sh SOURCE-DIR
set -euo pipefail
export LC_ALL=C.UTF-8
cd "$1"
prose() {  # the file without code: fenced and indented blocks, `spans`
    awk '/^ *(```|~~~)/ { fenced = !fenced; next } !fenced && !/^    / { print }' "$1" | sed 's/`[^`]*`//g'
}
slugs() {  # the anchors of a file's headings
    prose "$1" | sed -n 's/^#\{1,6\} \+//p' | tr '[:upper:]' '[:lower:]' | sed 's/[^[:alnum:] _-]//g; s/ /-/g'
}
targets() {  # inline links, and reference definitions
    prose "$1" | grep -o '\](\([^)]*\))' | sed 's/^](//; s/)$//' || true
    prose "$1" | sed -n 's/^ \{0,3\}\[[^]]*\]: *\([^ ]*\).*/\1/p'
}
bad=0 links=0
for file in README.md docs/*.md vadapter/README.md; do
    if [[ ! -f $file ]]; then
        echo "$file: missing"; bad=$((bad + 1)); continue
    fi
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
    done < <(targets "$file" | grep -v '^[a-z]*:')
done
echo "links: $links checked, $bad broken"
[[ $bad -eq 0 && $links -gt 0 ]]
