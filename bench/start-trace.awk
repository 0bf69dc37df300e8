# Reads the trace of `VarnockBench.exe --trace` run under
# WINEDEBUG=+pid,+timestamp,+loaddll,+dialog,+debugstr (scripts/bench.sh
# --trace) and prints, for each program, the median time of each step of its
# start, in ms from the driver's CreateProcess. The first round warms the
# caches and is left out. Wine stamps its traces in whole ms: the medians of
# many starts are finer than any one start.
function mark(name, pattern) { names[++count] = name; patterns[count] = pattern }
function median(program, step,   n, i, j, v, a) {
    n = seen[program, step]
    if (n == 0) return "-"
    for (i = 1; i <= n; i++) a[i] = at[program, step, i]
    for (i = 2; i <= n; i++)
        for (j = i; j > 1 && a[j - 1] > a[j]; j--) { v = a[j]; a[j] = a[j - 1]; a[j - 1] = v }
    return sprintf("%.1f", n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2)
}
BEGIN {
    FS = ":"
    # Lower case: the loader writes a DLL's name as the importer spells it.
    mark("program mapped", "loaded .*\\.exe\"")
    mark("device library mapped", "loaded .*qelvo_can\\.dll")
    mark("user32 mapped", "loaded .*\\\\user32\\.dll\"")
    mark("comctl32 mapped", "loaded .*\\\\comctl32\\.dll\"")
    mark("display driver mapped", "loaded .*winex11\\.drv")
    mark("uxtheme mapped", "loaded .*uxtheme\\.dll")
    mark("dialog template read", "dialog_parsetemplate32 dialog")
    mark("dialog font made", "dialog_createindirect units")
    mark("dialog window made", "createcontrols32  begin")
    mark("controls made", "createcontrols32  end")
    mark("window activated", "imesetactivecontext")
    mark("first themed paint", "loaded .*msimg32\\.dll")
    mark("idle, as the driver sees it", "outputdebugstringa \"trace: idle")
}
{ ms = $1 * 1000; pid = $2 }
/OutputDebugStringA "trace: start / {
    program = $0; sub(/.*trace: start /, "", program); sub(/".*/, "", program)
    rounds[program]++
    if (!(program in order)) { order[program] = ++programs; byOrder[programs] = program }
    start = ms; child = ""; delete done
    next
}
program == "" || rounds[program] < 2 { next }
child == "" && index($0, program "\"") && /Loaded/ { child = pid }
{
    for (i = 1; i <= count; i++)
        if (!(i in done) && (pid == child || i == count) && tolower($0) ~ patterns[i]) {
            done[i] = 1
            seen[program, i]++
            at[program, i, seen[program, i]] = ms - start
        }
}
END {
    if (programs == 0) {
        print "start-trace: no start was traced" > "/dev/stderr"
        exit 1
    }
    # Past the warm-up, every program's start must be found in the trace.
    for (p = 1; p <= programs; p++)
        if (rounds[byOrder[p]] < 2 || !((byOrder[p], 1) in seen)) {
            print "start-trace: no start of " byOrder[p] " was measured" > "/dev/stderr"
            exit 1
        }
    printf "%-30s", "median ms from CreateProcess"
    for (p = 1; p <= programs; p++) printf "%32s", byOrder[p] " (" rounds[byOrder[p]] - 1 ")"
    printf "\n"
    for (i = 1; i <= count; i++) {
        printf "%-30s", names[i]
        for (p = 1; p <= programs; p++) printf "%32s", median(byOrder[p], i)
        printf "\n"
    }
}
