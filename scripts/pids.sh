# Background processes of a script, stopped by their own pid only (sourced).
#
#   STARTED+=("$!")          after starting a process in the background
#   stop_pid PID             SIGTERM, up to STOP_WAIT_TRIES x 50 ms, then SIGKILL
#   stop_started             stop everything in STARTED (use in an EXIT trap)

STARTED=()
STOP_WAIT_TRIES=${STOP_WAIT_TRIES:-100}

stop_pid() {
  local pid=$1 i
  kill -TERM "$pid" 2>/dev/null || return 0
  for ((i = 0; i < STOP_WAIT_TRIES; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null || true
}

stop_started() {
  local p
  for p in "${STARTED[@]}"; do stop_pid "$p"; done
  STARTED=()
}
