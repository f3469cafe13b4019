#!/usr/bin/env bash
# Black-box cases of runs that meet, are killed or lose their journal, and of
# the recovery after them. Sourced by run-blackbox, whose helpers they use.

# Two identical cards (one hardware id, one location) through a run killed
# while it renames, then the recovery's undo: both cards switched on, both
# put back, each its own ports.
case_twins() {
  local card='{ "category": "usb", "type": "USB2P", "name": "Twin", "usbId": "USB-VID_3F2C-PID_4202",
    "locationText": "", "ports": [ { "name": "COM%d" }, { "name": "COM%d" } ] }'
  # shellcheck disable=SC2059
  printf '{ "statusDelayMs": 3000, "comDb": true, "cards": [ %s, %s ] }\n' "$(printf "$card" 3 4)" \
    "$(printf "$card" 5 6)" >"$BB_CARDS"
  cp "$BB_CARDS" "$BB_CASE/cards-before.json"
  peek comdb 1,3-6 >/dev/null
  (cd "$BB_PACKAGE" && exec wine "$BB_START" /renumber /all /start COM30 /yes) >"$BB_CASE/killed.txt" 2>&1 &
  wait_for '"step":"renamed"' "$(journal)" 60 || fail "no port renamed"
  kill_program
  grep -q '"enabled": false' "$(cards_now)" || fail "the run was not killed while its cards were disabled"
  cli recovered 0 /undo /yes
  contains recovered.err '上次串口号修改未完成(程序中途结束),已重新启用它停用的多串卡'
  ! grep -q '"enabled": false' "$(cards_now)" || fail "a twin stays disabled"
  diff <(port_names "$BB_CASE/cards-before.json") <(port_names "$(cards_now)") || fail "undo left other names"
  expect_comdb 1,3-6
}

# A run killed in its disable phase (nothing renamed yet) and one killed in
# its enable phase: the next start switches every card on again and tells
# what was renamed; the COM database ends as the ports are.
case_kill_points() {
  local point
  for point in disable enable; do
    sed 's/"comDb": false/"comDb": true/; s/"statusDelayMs": 150/"statusDelayMs": 3000/' "$BB_BENCH" >"$BB_CARDS"
    peek comdb "$bench_comdb" >/dev/null
    rm -f "$(journal)"
    (cd "$BB_PACKAGE" && exec wine "$BB_START" /renumber /all /start COM30 /yes) >"$BB_CASE/killed-$point.txt" 2>&1 &
    if [ $point = disable ]; then
      wait_for_cards '"enabled": false' 60 || fail "no card switched off"
    else
      wait_for '"step":"enabled"' "$(journal)" 60 || fail "no card switched on again"
    fi
    kill_program
    if [ $point = disable ]; then
      cli "recovered-$point" 0 /list
      contains "recovered-$point.err" '其中0个串口已被修改'
      diff <(port_names "$BB_BENCH") <(port_names "$(cards_now)") || fail "a port renamed before the first rename"
    else
      cli "recovered-$point" 0 /undo /yes
      contains "recovered-$point.err" '其中7个串口已被修改'
      diff <(port_names "$BB_BENCH") <(port_names "$(cards_now)") || fail "undo left other names"
    fi
    ! grep -q '"enabled": false' "$(cards_now)" || fail "a card stays switched off ($point)"
    expect_comdb "$bench_comdb"
  done
}

# An undo killed before its first rename loses nothing: the next /undo
# undoes the run. One killed half-way (256 ports, so that the kill falls
# among its renames): the next start offers to finish it, and /undo does.
# (The COM database is not checked: the kill may fall inside the simulator's
# rename, between its cards file and its claims.)
case_undo_killed() {
  local i point
  for point in disable rename; do
    if [ $point = disable ]; then
      sed 's/"statusDelayMs": 150/"statusDelayMs": 0/' "$BB_BENCH" >"$BB_CASE/bench.json"
    else
      jq '.statusDelayMs = 0 | .cards = [range(4) as $c | .cards[0] | .name = "Card \($c)" |
            .ports = [range(64) as $p | {name: "COM\(3 + $c * 64 + $p)"}]]' "$BB_BENCH" >"$BB_CASE/bench.json"
    fi
    cp "$BB_CASE/bench.json" "$BB_CARDS"
    rm -f "$(journal)"
    cli "renamed-$point" 0 /renumber /all /start COM30 /yes
    jq '.statusDelayMs = 2000' "$(cards_now)" >"$BB_CASE/slow.json" && cp "$BB_CASE/slow.json" "$BB_CARDS"
    (cd "$BB_PACKAGE" && exec wine "$BB_START" /undo /yes) >"$BB_CASE/killed-$point.txt" 2>&1 &
    for ((i = 0; i < 600; i++)); do
      if [ $point = disable ]; then
        grep -q '"enabled": false' "$(cards_now)" && break
      else
        awk '/"kind":"undo"/ { undo = 1 } undo && /"step":"renamed"/ { found = 1 } END { exit !found }' "$(journal)" &&
          break
      fi
      sleep 0.1
    done
    kill_program
    if [ $point = rename ]; then
      ! diff -q <(port_names "$BB_CASE/bench.json") <(port_names "$(cards_now)") >/dev/null ||
        fail "the undo was not killed half-way"
    fi
    cli "finished-$point" 0 /undo /yes
    [ $point = disable ] || contains "finished-$point.err" '上次撤销未完成(程序中途结束)' '可用 /undo 完成撤销'
    diff <(port_names "$BB_CASE/bench.json") <(port_names "$(cards_now)") || fail "the undo left other names ($point)"
    ! grep -q '"enabled": false' "$(cards_now)" || fail "a card stays switched off ($point)"
  done
}

# Starts an all-cards run to COM30 in the background, each card switched off
# and on in $1 ms, its output in $BB_CASE/$2.txt; sets run to its process
# once it has switched a card off.
start_slow_run() {
  sed "s/\"statusDelayMs\": 150/\"statusDelayMs\": $1/" "$BB_BENCH" >"$BB_CARDS"
  peek comdb 1 >/dev/null
  (cd "$BB_PACKAGE" && exec timeout 60 wine "$BB_START" /renumber /all /start COM30 /yes) >"$BB_CASE/$2.txt" 2>&1 &
  run=$!
  wait_for_cards '"enabled": false' 60 || fail "no card switched off"
}

# The journal becomes unwritable while a run switches its cards off: the run
# stops at its first rename, switches every card on and says so (exit 1);
# once the journal is back, the next start tells the truth from the cards.
case_journal_lost() {
  start_slow_run 3000 run
  mv "$(journal)" "$BB_CASE/journal.json" && mkdir "$(journal)"
  local status=0
  wait $run || status=$?
  [ $status = 1 ] || fail "the run ended with $status, not 1"
  contains run '修改记录无法写入,修改已在此停止' 'Orvello USB Serial Port A:COM3==>COM30: 成功'
  ! grep -q '"enabled": false' "$(cards_now)" || fail "a card stays switched off"
  rmdir "$(journal)" && mv "$BB_CASE/journal.json" "$(journal)"
  cli recovered 0 /undo /yes
  contains recovered.err '其中1个串口已被修改'
  diff <(port_names "$BB_BENCH") <(port_names "$(cards_now)") || fail "undo left other names"
}

# A second run started in the first's disable phase waits for the machine,
# then finds the cards changed since it listed them and stops before any
# change (8); no card stays off, and the first run's undo is whole.
case_runs_meet() {
  start_slow_run 400 first
  cli second 8 /renumber /card 2 /start COM40 /yes
  contains second '多串卡在列出之后已改变'
  wait $run || fail "the first run ended with $?"
  ! grep -q '"enabled": false' "$(cards_now)" || fail "a card stays switched off"
  cli undo 0 /undo /yes
  diff <(port_names "$BB_BENCH") <(port_names "$(cards_now)") || fail "the first run's undo left other names"
}

# Two runs at once: while one holds the machine (three cards disabled for
# 3 s each), a second waits a short while, ends with 5 and changes nothing.
case_one_run() {
  start_slow_run 3000 first
  cli second 5 /renumber /card 2 /start COM40 /yes
  contains second '另一个串口号修改正在进行'
  wait $run || fail "the first run ended with $?"
  diff <(port_names "$BB_BENCH" | awk '{ n = substr($0, 4) + 0; print "COM" (n <= 9 ? n + 27 : n) }') \
    <(port_names "$(cards_now)") ||
    fail "the cards file holds other names"
}

# A run killed while it renames (its cards disabled for seconds) is mended
# at the next start: the cards are enabled again, the log says what was
# found and done, and the undo offered puts the renamed ports back and the
# COM database as it was. Killed between a rename's save and its release,
# that port's old number stays claimed: the undo rightly asks about it, and
# once answered puts the database back all the same.
case_recovery() {
  local stale
  sed 's/"statusDelayMs": 150/"statusDelayMs": 3000/; s/"comDb": false/"comDb": true/' "$BB_BENCH" >"$BB_CARDS"
  peek comdb "$bench_comdb" >/dev/null
  (cd "$BB_PACKAGE" && exec wine "$BB_START" /renumber /all /start COM30 /yes) >"$BB_CASE/killed.txt" 2>&1 &
  wait_for '"step":"renamed"' "$(journal)" 60 || fail "no port renamed"
  kill_program
  grep -q '"enabled": false' "$(cards_now)" || fail "the run was not killed while its cards were disabled"
  # The old names of the renamed ports that the database still claims.
  stale=$(awk -F '[-\t]' 'NR == FNR { for (n = $1; n <= ($2 ? $2 : $1); n++) claimed["COM" n]; next }
    $1 != $2 { renamed = 1; if ($1 in claimed) printf "%s,", $1 } END { exit !renamed }' <(peek comdb |
    sed -n 's/^claimed: //p' | tr , '\n') <(paste <(port_names "$BB_BENCH") <(port_names "$(cards_now)"))) ||
    fail "no port renamed"
  # The offer comes before the main dialog shows.
  if [ "$KESTROVA_WIN32" = 1 ]; then
    (cd "$BB_PACKAGE" && timeout 60 wine Kestrova.exe) >>"$BB_CASE/program.log" 2>&1 || fail "Kestrova.exe ended with $?"
  else
    (cd "$BB_PACKAGE" && exec wine "$BB_START") >>"$BB_CASE/program.log" 2>&1 &
  fi
  capture offer answer '是否撤销这些修改?' yes 30000
  contains offer '上次串口号修改未完成(程序中途结束),已重新启用它停用的多串卡.'
  [ -z "$stale" ] || capture claimed answer "当前串口号($stale)已被分配" yes 30000
  capture result answer '==>COM' ok 30000
  peek wait main 10000 >/dev/null || fail "the main dialog did not show"
  ! grep -q '"enabled": false' "$(cards_now)" || fail "a card stays disabled"
  diff <(port_names "$BB_BENCH") <(port_names "$(cards_now)") || fail "undo left other names"
  expect_comdb "$bench_comdb"
  peek wait-text main 1018 '上次未完成的修改已记为结束' 1 10000 >/dev/null || fail "no recovery lines"
  capture log dump main
  contains log '发现上次未完成的串口号修改:共7个串口' '已重新启用上次修改停用的多串卡1#' \
    '上次未完成的修改已记为结束,可撤销已修改的串口.'
}
