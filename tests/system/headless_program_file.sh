#!/usr/bin/env bash
# A started program learns its file: placeholders, each value kept within
# its argument whatever the name holds, and the TAVREN3_* variables, for new,
# changed and deleted files; a pattern of several wildcards; the name a moved
# file takes; a stray brace refused by add, and run as it stands when stored.
#
# Usage: headless_program_file.sh PATH_TO_TAVREN3
# shellcheck source=scenario.bash
source "$(dirname "$0")/scenario.bash"

t3() { "$bin" --data-dir "$d/data" "$@" >"$d/out" 2>"$d/err" </dev/null; }

# $d/show writes the variables, the count of arguments and the arguments,
# NUL-separated, to a file of its own in $d/runs.
show_program() {
    mkdir -p "$d/runs" "$d/in"
    printf '#!/bin/sh\nprintf "%%s\\0" "$TAVREN3_EVENT" "$TAVREN3_FILE" "$TAVREN3_NAME" %s\n' \
        '"$TAVREN3_FOLDER" "$TAVREN3_ENTRY" "$TAVREN3_MOVE_TO" "$#" "$@" >"$(mktemp "'"$d"'/runs/XXXXXX")"' \
        >"$d/show"
    chmod +x "$d/show"
}
ran() {  # EVENT FILE NAME FOLDER ENTRY MOVE_TO ARGS...: some run got exactly these
    local f
    printf '%s\0' "${@:1:6}" $(($# - 6)) "${@:7}" >"$d/expected"
    for f in "$d"/runs/*; do cmp -s "$f" "$d/expected" && return 0; done
    return 1
}
expect_run() { wait_for 10 ran "$@" || fail "no run with: $(printf '[%s] ' "$@")"; }

names() {
    begin
    show_program
    t3 add --title "x {y}" --folder "$d/in" --program "$d/show {nope}" && fail "{nope} was taken"
    grep -q '{file}' "$d/err" || fail "the refusal names no placeholder"
    ! LC_ALL=C.UTF-8 grep -q '[^ -~]' "$d/err" || fail "the refusal is not all English under C"
    t3 add --title "x {y}" --folder "$d/in" --pattern ' *.csv ;*.txt' --on names --wait \
        --program "$d/show --in={file} {name} {{lit}} {folder}" || fail "add"
    watch
    local n
    for n in $'a b;$HOME "q".csv' $'-n\nx.txt' $'\xff\xfe.txt'; do
        printf x >"$d/$n"
        mv "$d/$n" "$d/in/"
        expect_run new "$d/in/$n" "$n" "$d/in" "x {y}" "" --in="$d/in/$n" "$n" "{lit}" "$d/in"
    done
    printf x >"$d/in/skip.log"
    rm "$d/in/$n"
    expect_run deleted "$d/in/$n" "$n" "$d/in" "x {y}" "" --in="$d/in/$n" "$n" "{lit}" "$d/in"
    [[ $(files "$d/runs") == 4 ]] || fail "$(files "$d/runs") runs instead of 4"
}

changed() {  # on updates, with a line stored before placeholders existed
    begin
    show_program
    printf x >"$d/in/c.txt"
    slot 1 0 0 0 0 0 0 1 0 "old" "$d/in" "" "$d/show {nope} {file}" "" "" \
        >"$d/data/tavdat/dirinfo.dat"
    watch
    printf xy >>"$d/in/c.txt"
    expect_run changed "$d/in/c.txt" c.txt "$d/in" old "" "{nope}" "{file}"
}

moved() {  # its own name is taken at the destination: the stamped one
    begin
    show_program
    mkdir -p "$d/dest"
    printf old >"$d/dest/m.txt"
    t3 add --title mv --folder "$d/in" --move-to "$d/dest" --program "$d/show {name}" || fail "add"
    watch
    printf x >"$d/in/m.txt"
    wait_for 10 eval '[[ $(files "$d/dest") == 2 ]]' || fail "not moved"
    expect_run new "$d/in/m.txt" m.txt "$d/in" mv "$(find "$d/dest" -name 'm_*.txt')" m.txt
}

run_cases names changed moved
exit
