#!/usr/bin/env bash
# Black-box cases of the COM database's claims: who holds each number, the
# release of stale claims, the undo of COM database changes, and databases
# of more than 256 numbers. Sourced by run-blackbox, whose functions they use.

arbiter='HKLM\SYSTEM\CurrentControlSet\Control\COM Name Arbiter'
serialcomm='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'

# The COM database's registry value as hexadecimal digits, byte for byte.
comdb_value() { wine reg query "$arbiter" /v ComDB | tr -d '\r' | awk '$1 == "ComDB" { print tolower($3) }'; }
# comdb_hex LIST BYTES: the value a database of BYTES bytes with LIST claimed holds.
comdb_hex() {
  local -a bytes parts
  local i n p
  for ((i = 0; i < $2; i++)); do bytes[i]=0; done
  IFS=, read -ra parts <<<"$1"
  for p in "${parts[@]}"; do
    for ((n = ${p%-*}; n <= ${p#*-}; n++)); do bytes[(n - 1) / 8]=$((bytes[(n - 1) / 8] | 1 << ((n - 1) % 8))); done
  done
  for ((i = 0; i < $2; i++)); do printf '%02x' "${bytes[i]}"; done
}
expect_value() { [ "$(comdb_value)" = "$(comdb_hex "$1" "${2:-32}")" ] || fail "the ComDB value is not $1 byte for byte"; }

# The machine of the claims cases: the default bench's cards (COM3-COM17,
# COM20) with the COM database on, two ports in the serial device map
# (\Device\Serial6 COM25, claimed; \Device\Serial7 COM27, not claimed), an
# LPT1 there that names no number, a dosdevices link for COM26 (which Wine's
# DOS device list does not show: it stands for nothing here), and COM2,
# COM30, COM31 and COM40 claimed with nothing holding them. The map's values
# last while the prefix's wineserver runs (the watchdog's program keeps it
# up; one already running refuses -p, which is as good).
claims_machine() {
  sed 's/"comDb": false/"comDb": true/' "$BB_BENCH" >"$BB_CARDS"
  wineserver -p 2>/dev/null || true
  wine reg add "$serialcomm" /v '\Device\Serial6' /d COM25 /f >/dev/null
  wine reg add "$serialcomm" /v '\Device\Serial7' /d COM27 /f >/dev/null
  wine reg add "$serialcomm" /v '\Device\Parallel0' /d LPT1 /f >/dev/null
  : >"$BB_CASE/com26-device"
  ln -sf "$BB_CASE/com26-device" "$WINEPREFIX/dosdevices/com26"
  claims_before=1-17,20,25,30-31,40
  peek comdb "$claims_before" >/dev/null
  # COM1 is the prefix's own serial port when Wine found one at boot.
  com1=none
  wine reg query "$serialcomm" | tr -d '\r' | grep -q 'REG_SZ *COM1$' && com1=present
}

# /list /claims /json names every holder and exactly the three stale numbers;
# /release-stale asks (3) and changes nothing without /yes, /preview lists;
# /yes releases exactly the three; /undo /yes claims them again.
case_claims() {
  claims_machine
  cli claims 0 /list /claims /json
  local want
  want="1 $com1 false|2 none false|$(for n in 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 20; do printf '%s card false|' $n; done)"
  want+="25 present false|30 none true|31 none true|40 none true"
  [ "$(jq -r '[.claims[] | "\(.number) \(.holder) \(.stale)"] | join("|")' "$BB_CASE/claims.txt")" = "$want" ] ||
    fail "the claims' holders are not as the machine has them"
  [ "$(jq -r '.claims[] | select(.number == 25) | .device' "$BB_CASE/claims.txt")" = '\Device\Serial6' ] ||
    fail "COM25's device"
  [ "$(jq -c '[.claims[] | select(.number == 8) | .card, .port, .name]' "$BB_CASE/claims.txt")" = '[2,2,"COM8"]' ] ||
    fail "COM8's card and port"
  [ "$(jq -c '[.unclaimed[] | [.number, .holder, .device]]' "$BB_CASE/claims.txt")" = '[[27,"present","\\Device\\Serial7"]]' ] ||
    fail "the unclaimed ports"
  [ "$(jq '.databaseSize' "$BB_CASE/claims.txt")" = 256 ] || fail "the database's size"
  cli claims-text 0 /list /claims
  expect claims-text 'COM30: 已分配, 无设备使用,可释放' 'COM2: 已分配, 无设备使用,系统保留号,不释放' \
    'COM25: 已分配, 本机串口(\Device\Serial6)' 'COM27: 未分配, 本机串口(\Device\Serial7)'
  cli asked 3 /release-stale
  expect asked '以下串口号在COM数据库中已分配,但本机没有任何串口使用它们:' 'COM30,COM31,COM40,' \
    '是否将它们设为<未使用/空闲>状态?' '(未给出/yes: 已停止,未做任何修改)'
  expect_value "$claims_before"
  cli preview 0 /release-stale /preview
  expect preview '***无设备使用的已分配串口号(预览,未做任何修改):COM30,COM31,COM40,'
  expect_value "$claims_before"
  cli release 0 /release-stale /yes
  expect release '(/yes: 继续)' 'COM30,COM31,COM40,' '****共3个串口状态，声明为[未使用]****'
  expect_value 1-17,20,25
  cli again 0 /release-stale
  expect again 'COM数据库中没有无设备使用的已分配串口号,未做任何修改.'
  cli undo 0 /undo /yes
  expect undo 'COM30,COM31,COM40,' '****共3个串口状态，声明为[使用中]****'
  expect_value "$claims_before"
  cmp "$BB_BENCH" <(sed 's/"comDb": true/"comDb": false/' "$(cards_now)") || fail "a card changed"
}

# The same from the dialog's File menu: the claims in the log (command 110),
# the release with its question (111), the undo (109).
case_claims_dialog() {
  claims_machine
  start_program
  peek post main 110
  peek wait-text main 1018 'COM40: 已分配, 无设备使用,可释放' 1 10000 >/dev/null || fail "no claims in the log"
  capture log dump main
  contains log 'COM25: 已分配, 本机串口(\Device\Serial6)' 'COM8: 已分配, 多串卡2#P2(Orvello USB-485 Port 2)'
  peek post main 111
  capture question answer '本机没有任何串口使用它们' yes 10000
  expect question 'caption:  Orvello' 'buttons: yes,no' \
    'text: 以下串口号在COM数据库中已分配,但本机没有任何串口使用它们:\nCOM30,COM31,COM40,\n是否将它们设为<未使用/空闲>状态?'
  capture released answer '声明为[未使用]' ok 10000
  expect released 'text: COM30,COM31,COM40,\n****共3个串口状态，声明为[未使用]****'
  expect_value 1-17,20,25
  peek number-list main 1013 || fail "start list after the release"
  peek post main 109
  capture undone answer '声明为[使用中]' ok 10000
  expect undone 'text: COM30,COM31,COM40,\n****共3个串口状态，声明为[使用中]****'
  expect_value "$claims_before"
}

# A release of COM20-COM22 in the usage dialog, then Undo from the menu: the
# registry value is as it was, byte for byte.
case_usage_undo() {
  peek comdb 1,3-17,20-22 >/dev/null
  local before
  before=$(comdb_value)
  start_program
  peek press main 1019
  peek wait usage 10000 >/dev/null || fail "the usage dialog did not open"
  peek select usage 1030 19
  peek select usage 1014 21
  peek press usage 1029
  peek answer '串口号声明为<未使用/空闲>状态后' ok 10000 >/dev/null || fail "no warning"
  capture released answer '声明为[未使用]' ok 10000
  expect released 'text: COM20,COM21,COM22,\n****共3个串口状态，声明为[未使用]****'
  expect_value 1,3-17
  peek post usage 2
  peek gone usage 10000 || fail "the usage dialog did not close"
  peek post main 109
  capture undone answer '声明为[使用中]' ok 10000
  [ "$(comdb_value)" = "$before" ] || fail "undo did not put the value back byte for byte"
}

# A database resized to 1024 numbers with COM300 claimed: a run to COM300
# asks the claimed question and /preview marks it; COM1100 lies past the
# database's end and is free.
case_comdb_1024() {
  sed 's/"comDb": false/"comDb": true/' "$BB_BENCH" >"$BB_CARDS"
  peek comdb 1,3-17,20,300 1024 >/dev/null
  expect_value 1,3-17,20,300 128
  cli preview 0 /preview /card 2 /start COM300
  expect preview 'Orvello USB-485 Port 1:COM7==>COM300 [已被分配]' 'Orvello USB-485 Port 2:COM8==>COM301'
  cli asked 3 /renumber /card 2 /start COM300
  expect asked '当前串口号(COM300,)已被分配.如果多个设备使用一个串口号,会导致无法访问设备.仍然继续?'
  cli beyond 0 /preview /card 2 /start COM1100
  expect beyond 'Orvello USB-485 Port 1:COM7==>COM1100' 'Orvello USB-485 Port 2:COM8==>COM1101'
  cli claims 0 /list /claims /json
  [ "$(jq -c '[.databaseSize, [.claims[] | select(.number > 256) | .number]]' "$BB_CASE/claims.txt")" = '[1024,[300]]' ] ||
    fail "the claims of a database of 1024 numbers"
  expect_value 1,3-17,20,300 128
}
