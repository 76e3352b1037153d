#!/usr/bin/env bash
# A whole mail exchange on this machine: builds POSTIL and the mail
# simulator, lays out a host directory with a configuration, a killfile and
# outgoing mail, makes a certificate and starts mailsim with a seeded mailbox,
# runs postil over STARTTLS on both sides (its status panel shows when this
# runs in a terminal) and prints what happened.
# Usage: scripts/demo.sh [--keep]   (--keep leaves the host directory for a look)
# POSTIL_DEMO_PROGRAM runs another build of postil instead, for example
# "wine64 build-win64/postil.exe" (an absolute path, or one from here).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
demo=$root/tools/mailsim/demo
keep=0
[ "${1:-}" = "--keep" ] && keep=1

scripts/setup.sh
echo "Building postil and mailsim ..."
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target postil mailsim >/dev/null

host=$(mktemp -d /tmp/postil-demo.XXXXXX)
mailsim_pid=""
cleanup() {
  if [ -n "$mailsim_pid" ]; then
    kill "$mailsim_pid" 2>/dev/null || true
    wait "$mailsim_pid" 2>/dev/null || true
  fi
  if [ "$keep" = 1 ]; then echo "Host directory kept: $host"; else rm -rf "$host"; fi
}
trap cleanup EXIT

# The host's side: its executable with the release marker (message requests
# and the full feature set on), the outgoing spool, the killfile.
mkdir -p "$host/SPOOL/OUT" "$host/mailsim/received" "$host/tls"
printf 'MZ demo host executable, release QV2\n' > "$host/QV.EXE"
cp "$demo"/outgoing/* "$host/SPOOL/OUT/"
cp "$demo/FILTER.KIL" "$host/FILTER.KIL"

# A certificate of this run's own (no key is kept anywhere), signed by a CA
# that only this host directory trusts.
"$root/build/tools/mailsim/mailsim" --make-cert "$host/tls" >"$host/tls/made" 2>&1 ||
  { echo "mailsim could not make a certificate:"; cat "$host/tls/made"; exit 1; }
ca_file=$(sed -n 's/^ca=//p' "$host/tls/made")
cert_file=$(sed -n 's/^certificate=//p' "$host/tls/made")
key_file=$(sed -n 's/^key=//p' "$host/tls/made")

# A person should be able to watch the panel: replies are paced when the
# demo runs in a terminal.
pace=0
[ -t 1 ] && pace=80
"$root/build/tools/mailsim/mailsim" --mailbox "$demo/mailbox" --received "$host/mailsim/received" \
  --user anna --password 'pa:ss' --refuse nobody@nowhere.example --pace "$pace" \
  --tls-cert "$cert_file" --tls-key "$key_file" \
  --time-limit 120 --port-file "$host/mailsim/ports" >"$host/mailsim/log" 2>&1 &
mailsim_pid=$!
for _ in $(seq 1 100); do
  [ -f "$host/mailsim/ports" ] && break
  sleep 0.05
done
[ -f "$host/mailsim/ports" ] || { echo "mailsim did not start:"; cat "$host/mailsim/log"; exit 1; }
pop3_port=$(sed -n 's/^pop3=//p' "$host/mailsim/ports")
smtp_port=$(sed -n 's/^smtp=//p' "$host/mailsim/ports")

# The configuration in the host's box-file style (bare keys), which is also
# the style in which the killfile is read.
cat > "$host/QV.BFG" <<EOF
Pop3Server=127.0.0.1
Pop3Port=$pop3_port
Pop3Tls=starttls
Pop3User=anna
Pop3Pass=pa:ss
Pop3Spool=SPOOL\\IN
Pop3Envelope=anna@point.example
Pop3MaxLen=20000
SmtpServer=127.0.0.1
SmtpPort=$smtp_port
SmtpTls=starttls
SmtpUser=anna
SmtpPass=pa:ss
SmtpSpool=SPOOL\\OUT
PPP_Killfile=FILTER.KIL
TlsCaFile=tls\\$(basename "$ca_file")
EOF

echo "Running: postil QV.BFG   (in $host)"
set +e
read -ra program <<<"${POSTIL_DEMO_PROGRAM:-$root/build/postil}"
[[ ${program[-1]} == /* ]] || program[-1]=$root/${program[-1]}
(cd "$host" && "${program[@]}" QV.BFG)
code=$?
set -e
[ -t 1 ] && sleep 0.2

"$root/scripts/demo_summary.sh" "$host" "$code"
