#!/bin/sh
# flip_byte.sh FILE DISTANCE: inverts the bits of the byte DISTANCE bytes before the 4-byte
# trailer at the end of FILE.
set -eu
file=$1 distance=$2
size=$(stat -c %s "$file")
offset=$((size - 4 - distance))
old=$(od -An -tu1 -j "$offset" -N1 "$file" | tr -d ' ')
new=$((255 - old))
printf "$(printf '\\%03o' "$new")" | dd of="$file" bs=1 seek="$offset" conv=notrunc 2>/dev/null
