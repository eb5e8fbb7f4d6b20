#!/usr/bin/env bash
# What the actions do with what people drop and type: dropped programs are
# never run, program lines with spaces and arguments run, a move into the
# watched folder itself happens once, output lines cannot be forged,
# wildcards and names in notices follow the Windows rules.
#
# Usage: scenario_actions.sh PATH_TO_TAVREN3
# shellcheck source=scenario.bash
source "$(dirname "$0")/scenario.bash"

drop() {  # FOLDER NAME [CONTENT]: written beside the folder, then renamed in
    printf '%s\n' "${3:-x}" >"$d/$2"
    mv "$d/$2" "$1/$2"
}

# An entry that opens its files: a shell script named invoice.pdf and an ELF
# program, both marked executable, are never run. The program is refused
# with a line naming it, never handed to the desktop's opener (a fake one
# here, first in PATH); the script is handed to the opener or refused the
# same way. A plain document is handed to the opener. All three are moved.
opener() {
    begin
    mkdir -p "$d/in" "$d/out" "$d/bin"
    printf '#!/bin/sh\nprintf "%%s\\n" "$*" >>"%s/opened"\n' "$d" >"$d/bin/xdg-open"
    printf '#!/bin/sh\ntouch "%s/pwned"\n' "$d" >"$d/invoice.pdf"
    cp /bin/true "$d/evil"
    echo '%PDF-1.4' >"$d/letter.pdf"
    chmod +x "$d/bin/xdg-open" "$d/invoice.pdf" "$d/evil"
    slot 1 0 1 0 0 2 1 0 0 "in" "$d/in" "" "" "$d/out" "" >"$d/data/tavdat/dirinfo.dat"
    PATH=$d/bin:$PATH watch
    mv "$d/invoice.pdf" "$d/in/"
    mv "$d/evil" "$d/in/"
    mv "$d/letter.pdf" "$d/in/"
    wait_for 10 eval '[[ $(files "$d/out") == 3 ]]' || fail "out: $(ls "$d/out" | tr '\n' ' ')"
    sleep 0.3
    [[ ! -e $d/pwned ]] || fail "invoice.pdf was run"
    grep -q 'evil' "$d/opened" 2>/dev/null && fail "evil was handed to the opener"
    grep 'evil' "$d/stderr" | grep -q '実行形式' || fail "no line telling that evil was not opened"
    grep -q '/in/invoice\.pdf$' "$d/opened" 2>/dev/null ||
        grep 'invoice\.pdf' "$d/stderr" | grep -q '実行形式' ||
        fail "invoice.pdf was neither handed to the opener nor refused"
    grep -q '/in/letter\.pdf$' "$d/opened" 2>/dev/null || fail "letter.pdf was not handed to the opener"
}

# Program lines: an unquoted path with spaces and an argument (waited for),
# and a program with arguments started without waiting.
program_lines() {
    begin
    mkdir -p "$d/in1" "$d/in2" "$d/my tools"
    printf '#!/bin/sh\nprintf "%%s\\n" "$@" >"%s/ran-a"\n' "$d" >"$d/my tools/run it"
    printf '#!/bin/sh\nprintf "%%s\\n" "$2" >"$1"\n' >"$d/mark"
    chmod +x "$d/my tools/run it" "$d/mark"
    {
        slot 1 0 1 0 0 0 0 1 0 "a" "$d/in1" "" "$d/my tools/run it hello" "" ""
        slot 1 0 1 0 0 0 0 0 0 "b" "$d/in2" "" "$d/mark $d/ran-b value-b" "" ""
    } >"$d/data/tavdat/dirinfo.dat"
    watch
    drop "$d/in1" a.txt
    drop "$d/in2" b.txt
    wait_for 5 test -s "$d/ran-a" || fail "the program at a path with spaces did not run"
    wait_for 5 test -s "$d/ran-b" || fail "the program with arguments did not run"
    [[ $(cat "$d/ran-a") == hello ]] || fail "the program got: $(cat "$d/ran-a")"
    [[ $(cat "$d/ran-b") == value-b ]] || fail "the program got: $(cat "$d/ran-b")"
}

# Entries that move their files into their own folder, directly and through
# a symbolic link: the file is moved once, to one time-stamped name, with
# one notice, and then left alone.
own_move() {
    begin
    mkdir -p "$d/in1" "$d/in2"
    ln -s "$d/in2" "$d/link2"
    {
        slot 1 0 1 1 0 2 0 0 0 "self" "$d/in1" "" "" "$d/in1" ""
        slot 1 0 1 1 0 2 0 0 0 "link" "$d/in2" "" "" "$d/link2" ""
    } >"$d/data/tavdat/dirinfo.dat"
    watch
    drop "$d/in1" a.txt
    drop "$d/in2" b.txt
    sleep 10
    ls "$d/in1" | grep -Eqx 'a_[0-9]{12}\.txt' && [[ $(files "$d/in1") == 1 ]] ||
        fail "in1: $(ls "$d/in1" | tr '\n' ' ')"
    ls "$d/in2" | grep -Eqx 'b_[0-9]{12}\.txt' && [[ $(files "$d/in2") == 1 ]] ||
        fail "in2: $(ls "$d/in2" | tr '\n' ' ')"
    (($(count a.txt "$d/stdout") == 1 && $(count b.txt "$d/stdout") == 1 && $(lines "$d/stdout") == 2)) ||
        fail "not one notice for each file"
}

# Headless output: a name holding a line break and one with a byte that is
# not UTF-8 give one clean line each; what programs print goes to standard
# error; the start line counts only the folders really watched.
output() {
    begin
    mkdir -p "$d/in1" "$d/in2" "$d/in3" "$d/in4"
    program talk-wait 'echo chatter-wait'
    program talk-start 'echo chatter-start'
    {
        slot 1 0 1 2 0 0 0 0 0 "break" "$d/in1" "" "" "" ""
        slot 1 0 1 2 0 0 0 0 0 "byte" "$d/in2" "" "" "" ""
        slot 1 0 1 0 0 0 0 1 0 "wait" "$d/in3" "" "$d/talk-wait" "" ""
        slot 1 0 1 0 0 0 0 0 0 "start" "$d/in4" "" "$d/talk-start" "" ""
        slot 1 0 1 2 0 0 0 0 0 "missing" "$d/missing" "" "" "" ""
    } >"$d/data/tavdat/dirinfo.dat"
    watch
    grep -q ' 4 件の監視を開始しました' "$d/stderr" || fail "the start line does not count 4 entries"
    grep -v '監視を開始しました' "$d/stderr" | grep -qF "$d/missing" || fail "the missing folder is not named"
    drop "$d/in1" $'x\nTavren3: forged.txt'
    drop "$d/in2" $'bad\xff.txt'
    drop "$d/in3" a.txt
    drop "$d/in4" a.txt
    chatted() { grep -q chatter-wait "$d/stderr" && grep -q chatter-start "$d/stderr"; }
    wait_for 5 chatted || fail "the programs' output is not on standard error"
    wait_for 5 eval '(($(count forged "$d/stdout") >= 1 && $(count bad "$d/stdout") >= 1))' ||
        fail "a notice is missing"
    sleep 0.5
    (($(lines "$d/stdout") == 2)) || fail "$(lines "$d/stdout") lines on standard output for two notices"
    grep -qv '^Tavren3: ' "$d/stdout" && fail "a line not starting with 'Tavren3: '"
    grep -q '^Tavren3: forged' "$d/stdout" && fail "a forged line"
    tr -d '\n' <"$d/stdout" | grep -q '[[:cntrl:]]' && fail "raw control bytes on standard output"
    iconv -f UTF-8 -t UTF-8 "$d/stdout" >/dev/null 2>&1 || fail "standard output is not UTF-8"
    grep -q chatter "$d/stdout" && fail "a program's output on standard output"
    true
}

# Wildcards: "*." selects names without an extension; a full-width pattern
# selects full-width names of either case (settings in CP932).
wildcards() {
    begin
    mkdir -p "$d/w1" "$d/w2" "$d/o1" "$d/o2"
    local pattern
    pattern=$(printf 'ａｂｃ*.*' | iconv -f UTF-8 -t CP932)
    {
        slot 1 1 1 0 0 2 0 0 0 "dot" "$d/w1" "*." "" "$d/o1" ""
        slot 1 1 1 0 0 2 0 0 0 "wide" "$d/w2" "$pattern" "" "$d/o2" ""
    } >"$d/data/tavdat/dirinfo.dat"
    watch
    drop "$d/w1" a.txt
    drop "$d/w1" noext
    drop "$d/w2" ＡＢＣ資料.txt
    wait_for 5 test -e "$d/o1/noext" || fail "noext was not selected by '*.'"
    wait_for 5 test -e "$d/o2/ＡＢＣ資料.txt" || fail "ＡＢＣ資料.txt was not selected by 'ａｂｃ*.*'"
    sleep 0.5
    [[ -e $d/w1/a.txt ]] || fail "a.txt was selected by '*.'"
}

# A deleted file whose name CP932 cannot hold is named in the notice with
# '?' for what it cannot show.
deleted_name() {
    begin
    mkdir -p "$d/in"
    echo x >"$d/in/Müller.txt"
    slot 1 0 1 1 0 0 0 0 0 "in" "$d/in" "" "" "" "" >"$d/data/tavdat/dirinfo.dat"
    watch
    rm "$d/in/Müller.txt"
    wait_for 5 test -s "$d/stdout" || fail "no notice of the deletion"
    grep -qF 'M?ller.txt' "$d/stdout" || fail "the notice does not name M?ller.txt"
}

run_cases opener program_lines own_move output wildcards deleted_name; exit
