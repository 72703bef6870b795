# shellcheck shell=bash
# Sourced by the Windows stage's scripts: Bunkmere.exe's message boxes on the stage's display.
# The taskbar button is the application's own window, captioned with the title like the boxes
# but of no size; a box is told from it by its size.

# The visible windows whose name (read as UTF-8, whatever the locale) matches the extended
# regular expression $1 and that are big enough to be a box.
box_ids() {
  local id WIDTH HEIGHT
  for id in $(xdotool search --onlyvisible --name '' 2>/dev/null); do
    xprop -id "$id" _NET_WM_NAME 2>/dev/null |
      sed -n 's/^_NET_WM_NAME(UTF8_STRING) = "\(.*\)"$/\1/p' | grep -qE "$1" || continue
    WIDTH=0 HEIGHT=0
    eval "$(xdotool getwindowgeometry --shell "$id" 2>/dev/null | grep -E '^(WIDTH|HEIGHT)=[0-9]+$')"
    if [ "$WIDTH" -ge 40 ] && [ "$HEIGHT" -ge 20 ]; then echo "$id"; fi
  done
}

# The first such box, waiting up to $2 seconds; fails when none came.
wait_box() {
  local end=$((SECONDS + $2)) id
  while ((SECONDS < end)); do
    id=$(box_ids "$1" | head -n1)
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# Waits up to 20 seconds for every box matching $1 to go; fails when one stays.
box_gone() {
  for _ in $(seq 200); do
    [ -z "$(box_ids "$1")" ] && return 0
    sleep 0.1
  done
  return 1
}

# Waits up to $2 seconds until window $1 is ready for a person's keys and clicks: it holds the
# keyboard focus and its frame has stopped moving and changing size (the program lays the
# window out and places it as it shows it). Fails when that never came.
wait_ready() {
  local end=$((SECONDS + $2)) before="" now
  while ((SECONDS < end)); do
    timeout 5 xdotool windowfocus --sync "$1" >/dev/null 2>&1 || true
    now=$(xdotool getwindowgeometry "$1" 2>/dev/null | tr '\n' ' ')
    if [ -n "$now" ] && [ "$now" = "$before" ] &&
      [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; then
      return 0
    fi
    before=$now
    sleep 0.1
  done
  return 1
}
