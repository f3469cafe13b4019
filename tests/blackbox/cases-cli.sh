#!/usr/bin/env bash
# Black-box cases of the command line. Sourced by run-blackbox, whose helpers
# they use.

# The command line through Kestrova.exe's hand-over, from a folder whose name
# has Chinese characters and a blank: the JSON list holds the cards of the
# file; bad arguments end with 2 and the usage; a preview, and a run that
# would ask but has no /yes, change nothing; with /yes the run does what the
# dialog's does (case_rename) and journals it; /undo puts the names back.
case_command_line() {
  export BB_FOLDER="$BB_CASE/我的 程序"
  cp -r "$BB_PACKAGE" "$BB_FOLDER"
  sed 's/"comDb": false/"comDb": true/' "$BB_BENCH" >"$BB_CARDS"
  cp "$BB_CARDS" "$BB_CASE/cards-before.json"
  peek comdb "$bench_comdb" >/dev/null
  local fields='[.cards[] | {name, usbId, locationText,
    ports: [.ports[] | {name, description, vendor, label: .label, cdc: (.cdc // false)}]}]'
  cli list 0 /list /json /category all
  diff <(jq -S "$fields" "$(cards_now)") <(jq -S "$fields" "$BB_CASE/list.txt") || fail "/list /json is not the cards file"
  cli bogus 2 /renumber /bogus
  expect bogus.err '参数错误: 未知参数: /bogus'
  grep -q '^用法: ' "$BB_CASE/bogus.err.txt" || fail "no usage line"
  cli preview 0 /renumber /card 2 /start COM17 /preview
  expect preview '***预览串口号分配(未做任何修改):' 'Orvello USB-485 Port 1:COM7==>COM17 [已被分配]'
  cli asked 3 /renumber /card 2 /start COM17
  expect asked '当前串口号(COM17,)已被分配.如果多个设备使用一个串口号,会导致无法访问设备.仍然继续?' \
    '(未给出/yes: 已停止,未做任何修改)'
  cmp "$BB_CASE/cards-before.json" "$(cards_now)" || fail "the cards file changed"
  expect_comdb "$bench_comdb"
  cli renumber 0 /renumber /card 2 /start COM17 /yes
  expect renumber 'Orvello USB-485 Port 1:COM7==>COM17: 成功' 'Orvello USB-485 Port 2:COM8==>COM18: 成功'
  diff <(port_names "$BB_BENCH" | sed 's/^COM7$/COM17/; s/^COM8$/COM18/') <(port_names "$(cards_now)") ||
    fail "the cards file holds other names"
  expect_comdb 1,3-6,9-18,20
  tail -n 1 "$(journal)" | grep -q '"step":"finished"' || fail "the journal does not end with a finished run"
  cli undo 0 /undo /yes
  expect undo 'Orvello USB-485 Port 1:COM17==>COM7: 成功' 'Orvello USB-485 Port 2:COM18==>COM8: 成功'
  diff <(port_names "$BB_BENCH") <(port_names "$(cards_now)") || fail "undo left other names"
  # The bits are per number: releasing COM17 frees it for the PCI card's port too.
  expect_comdb 1,3-16,20
}

# The command line needs no display: the same commands run without one (no
# X server at all) end with the same codes and print the same as with one.
case_headless() {
  sed 's/"comDb": false/"comDb": true/' "$BB_BENCH" >"$BB_CARDS"
  local pass run i
  for pass in shown headless; do
    peek comdb "$bench_comdb" >/dev/null
    i=0
    while read -r run; do
      i=$((i + 1))
      # shellcheck disable=SC2086
      if [ $pass = shown ]; then cli "$pass-$i" ${run}; else DISPLAY= cli "$pass-$i" ${run}; fi
    done <<'RUNS'
0 /list
0 /list /json /category all
0 /preview /card 2 /start COM17
0 /renumber /card 2 /start COM17 /yes
0 /undo /yes
2 /renumber /bogus
RUNS
  done
  for ((; i > 0; i--)); do
    cmp "$BB_CASE/shown-$i.txt" "$BB_CASE/headless-$i.txt" || fail "run $i printed otherwise without a display"
    cmp "$BB_CASE/shown-$i.err.txt" "$BB_CASE/headless-$i.err.txt" || fail "run $i reported otherwise without a display"
  done
  contains headless-4 'Orvello USB-485 Port 1:COM7==>COM17: 成功'
  contains headless-5 'Orvello USB-485 Port 1:COM17==>COM7: 成功'
  diff <(port_names "$BB_BENCH") <(port_names "$(cards_now)") || fail "the runs left other names"
}

# A deployment script runs the same renumbering twice: the second changes
# nothing (no card switched off, the journal as it was), and /undo still
# undoes the first.
case_rerun() {
  sed 's/"comDb": false/"comDb": true/' "$BB_BENCH" >"$BB_CARDS"
  peek comdb "$bench_comdb" >/dev/null
  cli first 0 /renumber /card 2 /start COM17 /yes
  cp "$(cards_now)" "$BB_CASE/cards-after-first.json"
  cp "$(journal)" "$BB_CASE/journal-after-first.txt"
  cli second 0 /renumber /card 2 /start COM17 /yes
  expect second '所有串口已是目标串口号,无需修改,未做任何修改.'
  cmp "$BB_CASE/cards-after-first.json" "$(cards_now)" || fail "the second run changed the cards file"
  cmp "$BB_CASE/journal-after-first.txt" "$(journal)" || fail "the second run changed the journal"
  cli undo 0 /undo /yes
  expect undo 'Orvello USB-485 Port 1:COM17==>COM7: 成功' 'Orvello USB-485 Port 2:COM18==>COM8: 成功'
  diff <(port_names "$BB_BENCH") <(port_names "$(cards_now)") || fail "undo left other names"
}

# A shift onto the run's own numbers (COM3-COM9 to COM4-COM10) renames from
# the top, so the COM database ends matching the ports: COM3 released, COM4
# to COM10 claimed.
case_shift() {
  sed 's/"comDb": false/"comDb": true/' "$BB_BENCH" >"$BB_CARDS"
  peek comdb "$bench_comdb" >/dev/null
  cli shift 0 /renumber /all /start COM4 /yes
  expect shift '当前串口号(COM10,)已被分配.如果多个设备使用一个串口号,会导致无法访问设备.仍然继续?'
  diff <(port_names "$BB_BENCH" | awk '{ n = substr($0, 4) + 0; print "COM" (n <= 9 ? n + 1 : n) }') \
    <(port_names "$(cards_now)") || fail "the cards file holds other names"
  expect_comdb 1,4-17,20
}
