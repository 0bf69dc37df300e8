#!/bin/bash
# Every relative link in the project's Markdown lands: the file exists, and is
# not one git ignores (a clone would lack it), and a #part names one of its
# headings (as the web view makes anchors of them).
#   check-links.sh SOURCE-DIR
set -euo pipefail
export LC_ALL=C.UTF-8
cd "$1"
# The file without code: fenced blocks; indented blocks, which inside a list
# item start four columns past the item's text (less is the item's own
# paragraphs); and `spans`, which may wrap lines but not cross a blank one.
prose() {
    awk 'function flush() { gsub(/`[^`]*`/, "", para); printf "%s", para; para = "" }
         /^ *(```|~~~)/ { fenced = !fenced; next }
         fenced { next }
         /^[[:space:]]*$/ { flush(); print; blank = 1; next }
         { match($0, /^ */); indent = RLENGTH }
         match($0, /^ ? ? ?([-*+]|[0-9]+[.)]) +/) { item = RLENGTH }
         item && blank && indent < item && RLENGTH < 0 { item = 0 }
         indent >= item + 4 && (blank || code) { code = 1; blank = 0; next }
         { code = blank = 0; para = para $0 "\n" }
         END { flush() }' "$1"
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
        elif git check-ignore -q -- "$dest" 2>/dev/null; then
            # Here, but not in the repository: a clone would not have it.
            echo "$file: ($target): $dest is ignored by git"; bad=$((bad + 1))
        elif [[ -n $part ]] && ! slugs "$dest" | grep -qxF -- "$part"; then
            echo "$file: ($target): no heading $part in $dest"; bad=$((bad + 1))
        fi
    done < <(targets "$file" | grep -v '^[a-z]*:')
done
echo "links: $links checked, $bad broken"
[[ $bad -eq 0 && $links -gt 0 ]]
