#!/usr/bin/env bash
# The demo: installs what is missing, builds, and runs the service with the SiTef simulator, a stub
# sales API and the reference point-of-sale page until Ctrl-C, which stops all of them.
#
# PORT sets the service's port (8443), WEB_PORT the page's (8080), API_PORT the stub sales API's
# (8081); BUILD_DIR the build tree (build) and DEMO_DIR the runtime tree (<build>/demo).
# DEMO_SKIP_SETUP=1 skips installing and building, for a tree that is already built.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${BUILD_DIR:-build}
demo_dir=${DEMO_DIR:-$build_dir/demo}
service_port=${PORT:-8443}
web_port=${WEB_PORT:-8080}
api_port=${API_PORT:-8081}

say() { printf 'demo: %s\n' "$*"; }
fail() {
  printf 'demo: %s\n' "$*" >&2
  exit 1
}

for port in "$service_port" "$web_port" "$api_port"; do
  if ! [[ $port =~ ^[0-9]+$ ]] || ((10#$port == 0 || 10#$port > 65535)); then fail "invalid port: $port"; fi
done
if [ "$service_port" = "$web_port" ] || [ "$service_port" = "$api_port" ] \
  || [ "$web_port" = "$api_port" ]; then
  fail "PORT, WEB_PORT and API_PORT must differ"
fi

if [ "${DEMO_SKIP_SETUP:-0}" != 1 ]; then
  scripts/install-deps.sh
  scripts/build.sh
fi
for program in SvcKelvoraSiTef kelvora-token dll/CliSiTef32I.dll; do
  [ -f "$build_dir/bin/$program" ] || fail "$build_dir/bin/$program is missing: run scripts/build.sh"
done

# True when something accepts connections on the port of this machine.
port_in_use() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# The service cannot report a port it fails to open, so a taken port is caught here instead.
for port in "$service_port" "$web_port" "$api_port"; do
  if port_in_use "$port"; then
    fail "port $port is taken; stop what uses it, or choose others with PORT, WEB_PORT and API_PORT"
  fi
done

# The runtime tree: the service's base directory with the simulator as its SiTef library. The
# library is replaced by a rename, never rewritten in place, since a process may still map it;
# the simulator's ledger beside it is kept, so payments of earlier runs can be cancelled and
# reprinted.
mkdir -p "$demo_dir/dll"
demo_dir=$(cd "$demo_dir" && pwd)
cp "$build_dir/bin/dll/CliSiTef32I.dll" "$demo_dir/dll/CliSiTef32I.dll.new"
mv -f "$demo_dir/dll/CliSiTef32I.dll.new" "$demo_dir/dll/CliSiTef32I.dll"
[ -f "$demo_dir/SvcKelvoraSiTef.ini" ] || cp packaging/SvcKelvoraSiTef.ini "$demo_dir/SvcKelvoraSiTef.ini"
# The demo signs with a key of its own, made once like an installation's, never the built-in one.
if ! grep -Eq '^jwt_secret=[A-Za-z0-9]{32}$' "$demo_dir/SvcKelvoraSiTef.ini"; then
  key=$(set +o pipefail; LC_ALL=C tr -dc 'A-Za-z0-9' </dev/urandom | head -c 32)
  # The key goes through the environment, never on a command line other users could read, into a
  # file only this user may read.
  (
    umask 077
    KELVORA_KEY=$key awk '
      /^jwt_secret=/ { if (!done) print "jwt_secret=" ENVIRON["KELVORA_KEY"]; done = 1; next }
      { print }
      END { if (!done) print "\n[security]\njwt_secret=" ENVIRON["KELVORA_KEY"] }' \
      "$demo_dir/SvcKelvoraSiTef.ini" >"$demo_dir/SvcKelvoraSiTef.ini.new"
  )
  mv -f "$demo_dir/SvcKelvoraSiTef.ini.new" "$demo_dir/SvcKelvoraSiTef.ini"
fi
# The simulator answers at once, so a prompt would flash by unseen; a short pause at each step and
# longer waits for the card and the PIX payment let a person follow the whole dialogue.
if [ ! -f "$demo_dir/dll/CliSiTefSim.ini" ]; then
  cat >"$demo_dir/dll/CliSiTefSim.ini" <<'EOF'
; The SiTef simulator's pacing for the demo (the keys are described in sim/README.md).
[dialog]
card_polls=15
pix_polls=40
[delay]
continue_ms=100
EOF
fi

# The certificates are made once and kept, so the browser trusts the CA across runs; a set that
# expires within a day, or an incomplete one, is made anew.
certificates=$demo_dir/Certificado
if ! tools/generate-certificates.sh "$certificates" 2>/dev/null; then
  tools/generate-certificates.sh --force "$certificates"
fi

pids=()
names=()
stopping=0

# Stops every process started here (each leads a process group of its own) and waits for them:
# politely first, forcibly after five seconds.
stop_all() {
  set +e
  [ "$stopping" = 1 ] && return
  stopping=1
  local pid
  for pid in "${pids[@]}"; do
    kill -TERM -- "-$pid" 2>/dev/null || kill -TERM "$pid" 2>/dev/null
  done
  for _ in $(seq 50); do
    local alive=0
    for pid in "${pids[@]}"; do
      kill -0 "$pid" 2>/dev/null && alive=1
    done
    [ "$alive" = 0 ] && break
    sleep 0.1
  done
  for pid in "${pids[@]}"; do
    kill -KILL -- "-$pid" 2>/dev/null || kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  say "stopped"
}
trap 'stop_all' EXIT
trap 'stop_all; exit 130' INT
trap 'stop_all; exit 143' TERM

# Runs a program in the background in a session of its own, so that a Ctrl-C reaches only this
# script, which then stops the programs in order.
start() {
  local name=$1
  shift
  setsid "$@" &
  pids+=("$!")
  names+=("$name")
}

# Waits until the port accepts connections; fails when the program behind it has exited.
wait_for_port() {
  local port=$1 index=$2
  for _ in $(seq 100); do
    kill -0 "${pids[$index]}" 2>/dev/null || fail "${names[$index]} exited before opening port $port"
    port_in_use "$port" && return 0
    sleep 0.1
  done
  fail "${names[$index]} did not open port $port within 10 seconds"
}

start "the service" "$build_dir/bin/SvcKelvoraSiTef" --port "$service_port" --base-dir "$demo_dir"
start "the stub sales API" node tools/stub-sales-api.mjs --port "$api_port"
start "the page's server" node tools/static-server.mjs --port "$web_port" \
  --cert "$certificates/server_cert.pem" --key "$certificates/server_key.pem"
wait_for_port "$service_port" 0
wait_for_port "$api_port" 1
wait_for_port "$web_port" 2

# A session token for the simulator's store and terminal; each approved payment is reported to
# the stub, which answers with a new payment id.
token=$("$build_dir/bin/kelvora-token" --config "$demo_dir/SvcKelvoraSiTef.ini" \
  --ip-address 127.0.0.1 --store-code 00000000 --secctional-code 1 --operator CAIXA01 \
  --additional-parameters "" --sale-id 1 --company-id 1 \
  --callback-url "http://127.0.0.1:$api_port/")

cat <<EOF

Kelvora TEF Server demo: the service on wss://localhost:$service_port with the SiTef simulator.

Open the point-of-sale page:

  https://localhost:$web_port/?service=wss://localhost:$service_port#token=$token

The browser must trust the demo's local CA, which vouches for localhost only:
  $certificates/ca_cert.pem
Import it once as an authority:
  Chromium: Settings > Privacy and security > Security > Manage certificates > Authorities >
            Import, and tick "Trust this certificate for identifying websites"; or from a shell
            (certutil is in the package libnss3-tools):
            certutil -d sql:\$HOME/.pki/nssdb -A -t C,, -n "Kelvora TEF demo CA" -i $certificates/ca_cert.pem
  Firefox:  Settings > Privacy & Security > Certificates > View Certificates > Authorities > Import
Or open https://localhost:$service_port/ and https://localhost:$web_port/ once and accept the warning.

Debit, credit (in instalments too) and PIX are approved; an amount ending in ,51 is refused.
The service's log is in $demo_dir/Log; the simulator's pacing
(CliSiTefSim.ini) and ledger are in $demo_dir/dll.
The sales API's callbacks are shown below. Ctrl-C stops everything.

EOF

# Runs until Ctrl-C, or until one of the programs ends by itself.
set +e
wait -n "${pids[@]}"
status=$?
set -e
for index in "${!pids[@]}"; do
  if ! kill -0 "${pids[$index]}" 2>/dev/null; then
    fail "${names[$index]} exited (status $status)"
  fi
done
