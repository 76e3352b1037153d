#!/usr/bin/env bash
# Prints what a demo run did. Usage: scripts/demo_summary.sh HOST-DIR EXIT-CODE
set -euo pipefail
host=$1
code=$2

# The first value of a header field in a file (CR dropped), or "-".
field() {
  local value
  value=$(tr -d '\r' <"$2" | grep -m1 -i "^$1:" | cut -d: -f2- | sed 's/^ //') || true
  echo "${value:--}"
}

echo
echo "== Exit code $code"
case $code in
  0) echo "   no error" ;;
  1) echo "   a POP3 error occurred" ;;
  2) echo "   an SMTP error occurred (for example a refused recipient)" ;;
  3) echo "   POP3 and SMTP errors occurred" ;;
  *) echo "   postil did not end normally" ;;
esac

echo
echo "== Inbound spool ($host/SPOOL/IN): what the host will import"
for file in "$host"/SPOOL/IN/M????.MSG; do
  [ -e "$file" ] || { echo "   (none)"; break; }
  kind="message"
  if grep -q '^Summary: Message too long' "$file"; then kind="stub, too long"
  elif grep -q '^Summary: Message filtered' "$file"; then kind="stub, cut by the killfile"
  elif ! grep -q '^Received: from' "$file"; then kind="POSTIL's own: bounce"
  fi
  printf '   %s  %-26s from: %s\n' "$(basename "$file")" "[$kind]" "$(field From "$file")"
  printf '   %s  %-26s subject: %s\n' "         " "" "$(field Subject "$file")"
done

echo
echo "== Mail accepted by the simulated SMTP server"
for file in "$host"/mailsim/received/*.eml; do
  [ -e "$file" ] || { echo "   (none)"; break; }
  printf '   to %-28s subject: %s\n' "$(field X-Envelope-To "$file")" "$(field Subject "$file")"
  # A message file whose first line was its own From: header arrives without one.
  printf '   %-31s from: %s\n' "" "$(field From "$file")"
done

echo
echo "== Outgoing spool left in $host/SPOOL/OUT (kept because not accepted)"
left=$(ls "$host/SPOOL/OUT")
echo "${left:-   (none)}" | sed 's/^/   /;s/^      /   /'

echo
echo "== Log lines that matter (QUIL.LOG)"
# Marked lines and the detail lines that continue them, shown in UTF-8.
tr -d '\r' <"$host/QUIL.LOG" | iconv -f CP437 -t UTF-8 |
  awk '/^(! |\? |- |% |= |~ )/ { shown = 1; print "   " $0; next }
       /^\t/ && shown { print "   " $0; next }
       { shown = 0 }'

