#!/usr/bin/env bash
# Writes help2man's include file for tarvo-cli's man page: a SUBCOMMANDS section that holds the
# '--help' of every subcommand that 'tarvo-cli --help' lists, so that the page documents each
# subcommand's options from the program itself and cannot drift from it.
#   cli-man-subcommands.sh PATH/tarvo-cli OUTPUT
set -euo pipefail
cli=$1
out=$2

# The names under "Subcommands:" in the main help, up to the blank line that ends the list.
subcommands=$("$cli" --help | awk '/^Subcommands:$/ { on = 1; next } on && /^$/ { on = 0 } on && /^  [a-z]/ { print $1 }')
[ -n "$subcommands" ] || {
  echo "$0: '$cli --help' lists no subcommands under 'Subcommands:'" >&2
  exit 1
}

# One subcommand's help as roff: the usage lines become its synopsis, option lines ("  --name  text")
# tagged paragraphs, indented lines continue what they follow, and a blank line or a line at the
# margin after indented ones starts a new paragraph. Text is escaped, never interpreted.
to_roff='
function esc(s) {
  gsub(/\\/, "\\e", s)
  gsub(/-/, "\\-", s)
  if (s ~ /^[.\047]/) s = "\\&" s
  return s
}
function trim(s) { sub(/^ +/, "", s); sub(/ +$/, "", s); return s }
BEGIN { usage = 1; synopsis = ""; indented = 0 }
usage && NR == 1 && !/^Usage: / { print "'"$0"': the help of " name " does not begin with \"Usage: \"" > "/dev/stderr"; failed = 1; exit 1 }
usage && /^$/ {
  usage = 0
  split(synopsis, words, " ")
  rest = substr(synopsis, length(words[1]) + length(words[2]) + 3)
  print ".SS \"" name "\""
  print "\\fB" esc(words[1] " " words[2]) "\\fR " esc(rest)
  print ".PP"
  next
}
usage { line = $0; sub(/^Usage: /, "", line); synopsis = synopsis (synopsis == "" ? "" : " ") trim(line); next }
/^$/ { print ".PP"; indented = 0; next }
/^ +-[^ ]/ {
  line = trim($0)
  gap = index(line, "  ")
  print ".TP"
  if (gap) {
    print "\\fB" esc(substr(line, 1, gap - 1)) "\\fR"
    print esc(trim(substr(line, gap)))
  } else {
    print "\\fB" esc(line) "\\fR"
  }
  indented = 1
  next
}
/^ / { print esc(trim($0)); indented = 1; next }
{
  if (indented) print ".PP"
  indented = 0
  print esc($0)
}
END { if (usage && !failed) { print "the help of " name " has no usage lines" > "/dev/stderr"; exit 1 } }
'

tmp=$out.tmp
{
  echo "[SUBCOMMANDS]"
  for sub in $subcommands; do
    "$cli" "$sub" --help | awk -v name="$sub" "$to_roff"
  done
} >"$tmp"
mv "$tmp" "$out"
