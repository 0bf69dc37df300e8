# Sourced by the release checks: copies of this tree as it is, each in a
# folder of its own, for scripts/release.sh to build in.
#   varnock_tree_commit          prints a commit of the tree as it is,
#                                uncommitted changes to tracked files too,
#                                with HEAD's time, which the programs are
#                                stamped with; a clean tree is HEAD itself
#   varnock_tree_copy REV FOLDER checks REV out in FOLDER
varnock_tree_commit() {
    local head_time rev
    head_time=$(git log -1 --format=%cI)
    # A fixed name too: a fresh machine may have none for git to sign with.
    rev=$(GIT_COMMITTER_DATE=$head_time GIT_AUTHOR_DATE=$head_time GIT_COMMITTER_NAME=varnock \
        GIT_AUTHOR_NAME=varnock GIT_COMMITTER_EMAIL=varnock@localhost GIT_AUTHOR_EMAIL=varnock@localhost \
        git stash create)
    echo "${rev:-$(git rev-parse HEAD)}"
}

varnock_tree_copy() {
    git clone -q --shared --no-checkout "$PWD" "$2"
    git -C "$2" checkout -q --detach "$1"
}
