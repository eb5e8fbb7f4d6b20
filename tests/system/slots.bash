# Settings slots and snapshot records written byte by byte from their
# layout, for the system tests (sourced, not run).

# Little-endian integers and NUL-padded text fields.
int16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))"; }
int32() { int16 $(($1 & 65535)); int16 $((($1 >> 16) & 65535)); }
text() {  # WIDTH TEXT
    (( ${#2} < $1 )) || { echo "text too long for its field: $2" >&2; exit 1; }
    printf '%s' "$2"
    head -c $(($1 - ${#2})) /dev/zero
}

# One 632-byte settings slot: running fileMode timing messageMode soundMode
# afterMode openFile waitExit overwrite, then title folder pattern program
# moveTo waveFile.
slot() {
    local i
    for i in 1 2 3 4 5 6 7 8 9; do int16 "${!i}"; done
    text 58 "${10}"
    text 128 "${11}"
    text 44 "${12}"
    text 128 "${13}"
    text 128 "${14}"
    text 128 "${15}"
}

# One 144-byte snapshot record: size date time name.
record() {
    int32 "$1"; int32 "$2"; int32 "$3"; int32 0
    text 128 "$4"
}

