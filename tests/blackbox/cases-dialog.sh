#!/usr/bin/env bash
# Black-box cases of the dialogs: what a user sees and does in the windows.
# Sourced by run-blackbox, whose helpers they use.

# The three dialogs stand as their tables say: main at start-up, the usage
# dialog from button 1019, the About box from menu command 104; the program
# ends when its window closes.
case_layout() {
  local program=$BB_PACKAGE/Kestrova.exe
  [ "$BB_ARCH" = x64 ] && program=$BB_PACKAGE/X64/Kestrova_X64.EXE
  program=$(winpath "$program")
  peek comdb "$bench_comdb" >/dev/null
  start_program
  capture main layout 129 "$program"
  peek press main 1019
  peek wait usage 10000 >/dev/null || fail "the usage dialog did not open"
  capture usage layout 130 "$program"
  shot usage-dialog
  peek post usage 2
  peek gone usage 10000 || fail "the usage dialog did not close"
  peek post main 104
  peek wait about 10000 >/dev/null || fail "the About box did not open"
  capture about layout 103 "$program"
  shot about-box
  peek post about 1
  peek gone about 10000 || fail "the About box did not close"
  peek post main close
  peek gone main 10000 || fail "the main dialog did not close"
  [ "$BB_ARCH" = x64 ] || timeout 20 tail --pid="$BB_PID" -f /dev/null || fail "Kestrova.exe did not end"
}

# The whole program at start-up: the title names the build, the lists come
# from the device-manager library, the start list from the COM database.
case_initial() {
  peek comdb "$bench_comdb" >/dev/null
  start_program
  capture start dump main
  expect start "title: Kestrova V120(${BB_ARCH^^})" \
    'combo 1013 sel=17 count=256 enabled=1' \
    'list 1001 sel=0 count=3 enabled=1' \
    'list 1001 row 0:  1#[USB4P]:Orvello UQ-4232 USB to 4 x RS-232' \
    'list 1001 row 1:  2#[USB2P]:Orvello UD-2485 USB to 2 x RS-485/422' \
    'list 1001 row 2:  3#[CDC]:Orvello UC-1 USB CDC Serial Adapter' \
    'list 1000 sel=0 count=4 enabled=1' \
    'list 1000 row 0:  1/4# [VCP]: Orvello USB Serial Port A' \
    'list 1000 row 3:  4/4# [VCP]: Orvello USB Serial Port D' \
    'status 1027: PortCnt:4 | USBID:USB\VID_3F2C&PID_4104 | Vendor:Orvello Systems | Location(2):Port_#0002.Hub_#0005' \
    "edit 1018: $usb_summary"
  peek number-list main 1013 || fail "start list against the COM database"
  shot main-dialog
}

# A renumbering run of the selected card. On the 64-bit program the first
# target number is claimed, so the run asks first; the 32-bit run targets
# free numbers and asks nothing. The simulator saves the new names and, with
# "comDb", claims the new numbers and releases the old ones.
case_rename() {
  sed 's/"comDb": false/"comDb": true/' "$BB_BENCH" >"$BB_CARDS"
  peek comdb "$bench_comdb" >/dev/null
  start_program
  local card=1 start=17 second=18 after=1,3-6,9-18,20 renamed='s/^COM7$/COM17/; s/^COM8$/COM18/' numbers='17 18 '
  local result='text: \r\nOrvello USB-485 Port 1:COM7==>COM17: 成功\r\nOrvello USB-485 Port 2:COM8==>COM18: 成功'
  if [ "$BB_ARCH" = x64 ]; then
    peek select main 1001 $card
    peek select main 1013 $((start - 1))
    peek press main 1014
    capture question answer '当前串口号(COM17,)已被分配' yes 10000
    expect question 'caption:  Orvello' 'buttons: yes,no' \
      'text: 当前串口号(COM17,)已被分配.如果多个设备使用一个串口号,会导致无法访问设备.仍然继续?'
  else
    card=0 start=40 second=41 after=1,7-17,20,40-43
    renamed='s/^COM3$/COM40/; s/^COM4$/COM41/; s/^COM5$/COM42/; s/^COM6$/COM43/' numbers='40 41 42 43 '
    result='text: \r\nOrvello USB Serial Port A:COM3==>COM40: 成功\r\nOrvello USB Serial Port B:COM4==>COM41: 成功'
    result+='\r\nOrvello USB Serial Port C:COM5==>COM42: 成功\r\nOrvello USB Serial Port D:COM6==>COM43: 成功'
    peek select main 1013 $((start - 1))
    peek press main 1014
  fi
  capture result answer '==>COM' ok 20000
  expect result 'caption:  Orvello' 'buttons: ok' "$result"
  # The run ends with a fresh enumeration: a second tree summary.
  peek wait-text main 1018 "$summary_end" 2 20000 >/dev/null || fail "no enumeration after the run"
  peek wait-enabled main 1014 10000 || fail "Change stays disabled"
  diff <(port_names "$BB_BENCH" | sed "$renamed") <(port_names "$(cards_now)") || fail "the cards file holds other names"
  [ "$(port_numbers "$(cards_now)")" = "$numbers" ] || fail "the cards file gives the numbers $(port_numbers "$(cards_now)")"
  expect_comdb "$after"
  capture after dump main
  contains after "串口号修改从COM${start}开始..." 'Restarting...' '****\r\n'
  expect after "list 1001 sel=$card count=3 enabled=1"
  # The start list moved to the first free number from COM3 and shows the
  # database's marks.
  expect after "combo 1013 sel=$(($(sed -n 's/^first-free: //p' "$BB_CASE/comdb.txt") - 1)) count=256 enabled=1"
  peek number-list main 1013 || fail "start list against the COM database"
  # The refreshed table holds the new numbers: the start list follows them.
  peek select main 1001 $card
  peek select main 1000 1
  capture port2 dump main
  expect port2 "combo 1013 sel=$((second - 1)) count=256 enabled=1" "combo 1013 row $((second - 1)): COM$second In use"
}

# A port held by another program (opening it is refused with access
# denied): the run asks, No cancels it and nothing changes.
case_held_port() {
  peek comdb "$bench_comdb" >/dev/null
  mkdir -p "$BB_CASE/held"
  ln -sfn "$BB_CASE/held" "$WINEPREFIX/dosdevices/com5"
  cp "$BB_CARDS" "$BB_CASE/cards-before.json"
  start_program
  peek press main 1014
  capture question answer 'COM5,' none 10000
  expect question 'caption:  Orvello' 'buttons: yes,no' \
    'text: 当前串口号(COM5,)正被其他程序使用.修改串口号可能会出现不可预料的错误,仍然继续?'
  shot held-port-question
  peek answer 'COM5,' no 10000 >/dev/null || fail "cannot answer the question"
  peek wait-text main 1018 "$summary_end" 2 20000 >/dev/null || fail "no enumeration after the run"
  peek wait-enabled main 1014 10000 || fail "Change stays disabled"
  capture after dump main
  contains after '串口号修改操作已取消1。' 'COM5.CreateFile:Last Err(5)'
  [ "$(occurrences after '==>COM')" = 0 ] || fail "a port was renamed"
  cmp "$BB_CASE/cards-before.json" "$(cards_now)" || fail "the cards file changed"
  expect_comdb "$bench_comdb"
}

# The usage dialog claims and releases a range in the COM database.
case_usage() {
  peek comdb 1,3-17 >/dev/null
  start_program
  peek press main 1019
  peek wait usage 10000 >/dev/null || fail "the usage dialog did not open"
  capture opened dump usage
  expect opened 'combo 1030 sel=2 count=256 enabled=1' 'combo 1014 sel=2 count=256 enabled=1'
  peek number-list usage 1030 || fail "from-list against the COM database"
  peek number-list usage 1014 || fail "to-list against the COM database"
  peek select usage 1030 19
  peek select usage 1014 21
  peek press usage 1020
  capture claimed answer '声明为[使用中]' ok 10000
  expect claimed 'caption:  Orvello' 'buttons: ok' 'text: COM20,COM21,COM22,\n****共3个串口状态，声明为[使用中]****'
  expect_comdb 1,3-17,20-22
  peek number-list usage 1030 || fail "from-list after the claim"
  peek press usage 1029
  capture warning answer '串口号声明为<未使用/空闲>状态后' ok 10000
  expect warning 'caption:  Orvello' 'buttons: ok,cancel' \
    'text: 串口号声明为<未使用/空闲>状态后,系统将会把<未使用>串口号分配给新设备,可能会造成串口号冲突和串口设备无法工作，请谨慎操作。\n点击<取消>将取消此操作'
  capture released answer '声明为[未使用]' ok 10000
  expect released 'text: COM20,COM21,COM22,\n****共3个串口状态，声明为[未使用]****'
  expect_comdb 1,3-17
  peek post usage 2
  peek gone usage 10000 || fail "the usage dialog did not close"
  peek number-list main 1013 || fail "start list after the usage dialog"
}

# USB arrivals and removals re-enumerate; an arrival during a run does not.
case_device_change() {
  peek comdb "$bench_comdb" >/dev/null
  start_program
  # A new 2-port USB card: the lists gain a row on arrival.
  local card='    { "category": "usb", "type": "USB2P", "name": "Orvello UD-2232 USB to 2 x RS-232",
      "usbId": "USB\\VID_3F2C&PID_4203", "locationNumber": 6, "locationText": "Port_#0006.Hub_#0001",
      "hubPath": [6], "ports": [ { "name": "COM30" }, { "name": "COM31" } ] },'
  cp "$BB_CARDS" "$BB_CASE/cards-before.json"
  CARD=$card awk '{ print } /"cards": \[/ { print ENVIRON["CARD"] }' "$BB_CASE/cards-before.json" >"$BB_CARDS"
  peek device-change arrival || fail "arrival not delivered"
  peek wait-text main 1018 "$summary_end" 2 10000 >/dev/null || fail "no enumeration after the arrival"
  capture arrived dump main
  expect arrived 'list 1001 sel=0 count=4 enabled=1' 'list 1001 row 0:  1#[USB2P]:Orvello UD-2232 USB to 2 x RS-232'
  contains arrived '***已查找到4个多串卡,共9个串口.'
  # The card leaves: the list loses the row on removal.
  cp "$BB_CASE/cards-before.json" "$BB_CARDS"
  peek device-change removal || fail "removal not delivered"
  peek wait-text main 1018 "$summary_end" 3 10000 >/dev/null || fail "no enumeration after the removal"
  capture removed dump main
  expect removed 'list 1001 sel=0 count=3 enabled=1'
  # During a run, held at the question about claimed numbers, an arrival is
  # ignored: the marker typed after it arrives after any enumeration it
  # could have started.
  peek select main 1013 9
  peek press main 1014
  peek answer '当前串口号(COM10,COM11,COM12,COM13,)已被分配' none 10000 >/dev/null || fail "no question"
  peek device-change arrival || fail "arrival during the run not delivered"
  peek marker main 1018 '#during-run#' 10000 || fail "marker"
  capture during dump main
  [ "$(occurrences during "$summary_end")" = 3 ] || fail "an arrival during the run enumerated"
  peek answer '当前串口号(COM10,' no 10000 >/dev/null || fail "cannot answer the question"
  peek wait-text main 1018 "$summary_end" 4 10000 >/dev/null || fail "no enumeration at the end of the run"
  peek wait-enabled main 1014 10000 || fail "Change stays disabled"
  capture cancelled dump main
  contains cancelled '串口号修改操作已取消2。'
  # After the run, arrivals count again.
  peek device-change arrival || fail "arrival not delivered"
  peek wait-text main 1018 "$summary_end" 5 10000 >/dev/null || fail "no enumeration after the run's end"
}

# Two cards that the hub plan, counting upstream port 1 and the downstream
# ports, gives the same numbers from COM30: card 1 on root-hub port 2 has no
# upstream port and takes the running number, card 2 sits behind a hub on
# its downstream port 1; both get COM30/COM31. Change refuses before anything
# changes.
case_duplicate() {
  local card='{ "category": "usb", "type": "USB2P", "name": "Orvello UD-2232 USB to 2 x RS-232"'
  cat >"$BB_CARDS" <<EOF
{ "statusDelayMs": 0, "comDb": true, "cards": [
  $card, "hubPath": [2], "ports": [ { "name": "COM3" }, { "name": "COM4" } ] },
  $card, "hubPath": [1, 1], "ports": [ { "name": "COM5" }, { "name": "COM6" } ] } ] }
EOF
  cp "$BB_CARDS" "$BB_CASE/cards-before.json"
  peek comdb 1,3-6 >/dev/null
  start_program
  local id
  for id in 1051 1032 1033 1045; do peek click main $id; done
  peek select main 1013 29
  peek press main 1014
  capture refused answer '同一个串口号' ok 10000
  expect refused 'caption:  Orvello' 'buttons: ok' \
    'text: 以下串口将得到同一个串口号,本次修改已取消,未做任何修改:\nCOM30: 1#P1(COM3), 2#P1(COM5)\nCOM31: 1#P2(COM4), 2#P2(COM6)\n请选择其他起始串口号或编号方式.'
  peek wait-enabled main 1014 10000 || fail "Change stays disabled"
  cmp "$BB_CASE/cards-before.json" "$(cards_now)" || fail "the cards file changed"
  expect_comdb 1,3-6
}

# File > preview (command 106, as the menu and Ctrl+P send it) writes what a
# run would do, a line a port, and changes nothing.
case_preview() {
  peek comdb "$bench_comdb" >/dev/null
  start_program
  peek select main 1013 39
  peek post main 106
  peek wait-text main 1018 '***预览:' 1 10000 >/dev/null || fail "no preview"
  capture log dump main
  contains log '\r\nOrvello USB Serial Port A:COM3==>COM40\r\nOrvello USB Serial Port B:COM4==>COM41'\
'\r\nOrvello USB Serial Port C:COM5==>COM42\r\nOrvello USB Serial Port D:COM6==>COM43\r\n***预览:'
  cmp "$BB_BENCH" "$(cards_now)" || fail "the cards file changed"
  expect_comdb "$bench_comdb"
}

# Kestrova.exe in a folder without X64\Kestrova_X64.EXE: a warning box, OK,
# the end with 0, and no dialog of either program.
case_no_x64() {
  local folder=$BB_CASE/no-x64
  mkdir -p "$folder"
  cp "$BB_PACKAGE/Kestrova.exe" "$BB_PACKAGE/QELDRA32.DLL" "$folder/"
  (cd "$folder" && exec timeout 60 wine Kestrova.exe) >>"$BB_CASE/program.log" 2>&1 &
  local program=$!
  capture box answer '未找到<X64' ok 30000
  expect box 'caption: Kestrova' 'text: 未找到<X64\Kestrova_X64.EXE>程序,运行失败!' 'buttons: ok'
  wait $program || fail "Kestrova.exe ended with $?"
  ! peek wait main 0 >/dev/null || fail "a main dialog showed"
}

# The dialog left open across a command-line run: Change sees that the cards
# are not what it listed and refuses, the lists show them anew; Undo from the
# menu puts back what the command line changed.
case_dialog_across() {
  sed 's/"comDb": false/"comDb": true/' "$BB_BENCH" >"$BB_CARDS"
  peek comdb "$bench_comdb" >/dev/null
  start_program
  cli renamed 0 /renumber /card 2 /start COM40 /yes
  peek press main 1014
  capture refused answer '多串卡在列出之后已改变' ok 10000
  peek wait-text main 1018 "$summary_end" 2 10000 >/dev/null || fail "no enumeration after the refusal"
  diff <(port_names "$BB_BENCH" | sed 's/^COM7$/COM40/; s/^COM8$/COM41/') <(port_names "$(cards_now)") ||
    fail "the refused Change renamed a port"
  peek post main 109
  capture undone answer '==>COM' ok 10000
  contains undone 'Orvello USB-485 Port 1:COM40==>COM7: 成功' 'Orvello USB-485 Port 2:COM41==>COM8: 成功'
  diff <(port_names "$BB_BENCH") <(port_names "$(cards_now)") || fail "undo left other names"
  peek post main close
  peek gone main 10000 || fail "the main dialog did not close"
}
