# Sourced by the check scripts (check-windows.sh, check-package.sh,
# check-windows-installer.sh) once their `work` folder exists: `check NAME COMMAND...`
# runs one step with its output in $work/NAME.out, says ok or FAIL (with the output's
# tail) and its seconds, and counts the failures in `failures`; `started` is when the
# checks began. `check_started NAME COMMAND...` starts a step in the background (for steps
# that mostly wait on real time) and `checks_finished` reports those steps in the order
# they were started, once all have ended.
failures=0
started=$(date +%s)
background_names=()
background_pids=()

# Runs a step and leaves its first report line in $work/NAME.status.
run_step() { # name, command...
  local name=$1 began=$SECONDS
  shift
  # A step's function runs as an if's condition, where errexit does not hold: each step
  # that may fail returns on its own.
  if "$@" >"$work/$name.out" 2>&1; then
    echo "ok    $name ($((SECONDS - began)) s)" >"$work/$name.status"
  else
    echo "FAIL  $name ($((SECONDS - began)) s)" >"$work/$name.status"
  fi
}

report_step() { # name
  cat "$work/$1.status"
  if grep -q '^FAIL' "$work/$1.status"; then
    tail -30 "$work/$1.out"
    failures=$((failures + 1))
  fi
}

check() { # name, command...
  run_step "$@"
  report_step "$1"
}

check_started() { # name, command...
  run_step "$@" &
  background_names+=("$1")
  background_pids+=($!)
}

checks_finished() {
  local k
  for k in "${!background_pids[@]}"; do
    wait "${background_pids[$k]}" || true
    report_step "${background_names[$k]}"
  done
  background_names=()
  background_pids=()
}

# A Linux path as a program under wine names it (wine maps Z: to /).
winpath() { echo "Z:${1//\//\\}"; }
