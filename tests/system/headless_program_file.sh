#!/usr/bin/env bash
# A started program learns its file: placeholders in the program line, each
# value kept within its own argument whatever the name holds, and the
# TAVREN3_* variables, for new, changed and deleted files; a pattern of
# several wildcards; where a moved file goes; a line with a stray brace
# refused by the command line, and one stored earlier run as it stands.
#
# Usage: headless_program_file.sh PATH_TO_TAVREN3
# shellcheck source=scenario.bash
source "$(dirname "$0")/scenario.bash"

t3() { "$bin" --data-dir "$d/data" "$@" >"$d/out" 2>"$d/err" </dev/null; }

# $d/show writes what it got, NUL-separated, into a file of its own in
# $d/runs: the variables, the count of arguments, the arguments.
show_program() {
    mkdir -p "$d/runs"
    cat >"$d/show" <<EOF
#!/bin/sh
printf '%s\0' "\$TAVREN3_EVENT" "\$TAVREN3_FILE" "\$TAVREN3_NAME" "\$TAVREN3_FOLDER" \
    "\$TAVREN3_ENTRY" "\$TAVREN3_MOVE_TO" "\$#" "\$@" >"\$(mktemp "$d/runs/XXXXXX")"
EOF
    chmod +x "$d/show"
}

# Whether some run got exactly EVENT FILE NAME FOLDER ENTRY MOVE_TO ARGS...
ran() {
    local event=$1 file=$2 name=$3 folder=$4 entry=$5 move=$6 f
    shift 6
    printf '%s\0' "$event" "$file" "$name" "$folder" "$entry" "$move" "$#" "$@" >"$d/expected"
    for f in "$d"/runs/*; do cmp -s "$f" "$d/expected" && return 0; done
    return 1
}
expect_run() {  # as ran, waiting for it
    wait_for 10 ran "$@" || fail "no run with: $(printf '[%s] ' "$@")"
}

# New and deleted files of an entry on names, with names that a shell or a
# split would take apart; a file the pattern leaves out runs nothing.
names() {
    begin
    show_program
    mkdir -p "$d/in"
    t3 add --title "x {y}" --folder "$d/in" --pattern "*.txt;$d/a" && fail "a pattern with / was taken"
    t3 add --title "x {y}" --folder "$d/in" --program "$d/show {nope}" && fail "{nope} was taken"
    grep -q '{file}' "$d/err" || fail "the refusal names no placeholder"
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

# A changed file of an entry on updates, whose line has a brace stored
# before placeholders existed: it runs as it stands.
changed() {
    begin
    show_program
    mkdir -p "$d/in"
    printf x >"$d/in/c.txt"
    slot 1 0 0 0 0 0 0 1 0 "old" "$d/in" "" "$d/show {nope} {file}" "" "" \
        >"$d/data/tavdat/dirinfo.dat"
    watch
    printf xy >>"$d/in/c.txt"
    expect_run changed "$d/in/c.txt" c.txt "$d/in" old "" "{nope}" "{file}"
}

# A moved file: the program is told the time-stamped name the file takes
# when its own is taken at the destination.
moved() {
    begin
    show_program
    mkdir -p "$d/in" "$d/dest"
    printf old >"$d/dest/m.txt"
    t3 add --title mv --folder "$d/in" --move-to "$d/dest" --program "$d/show {name}" || fail "add"
    watch
    printf x >"$d/in/m.txt"
    wait_for 10 eval '[[ $(files "$d/dest") == 2 ]]' || fail "not moved"
    local to
    to=$(find "$d/dest" -name 'm_*.txt')
    expect_run new "$d/in/m.txt" m.txt "$d/in" mv "$to" m.txt
}

run_cases names changed moved
exit
