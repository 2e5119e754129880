# Sourced by the check scripts (check-windows.sh, check-package.sh,
# check-windows-installer.sh) once their `work` folder exists: `check NAME COMMAND...`
# runs one step with its output in $work/NAME.out, says ok or FAIL (with the output's
# tail) and counts the failures in `failures`; `started` is when the checks began.
failures=0
started=$(date +%s)
# A check's function runs as an if's condition, where errexit does not hold: each step
# that may fail returns on its own.
check() { # name, command...
  local name=$1
  shift
  if "$@" >"$work/$name.out" 2>&1; then
    echo "ok    $name"
  else
    echo "FAIL  $name"
    tail -30 "$work/$name.out"
    failures=$((failures + 1))
  fi
}
# A Linux path as a program under wine names it (wine maps Z: to /).
winpath() { echo "Z:${1//\//\\}"; }
