#!/usr/bin/env bash
# Black-box cases of layouts: /export, /check, /apply and the configuration
# resource's JSON. Sourced by run-blackbox, whose helpers they use.

layout_file() { winpath "$BB_CASE/$1"; }

# A rig exported, then edited as a script would: the first card's first two
# ports exchange their numbers, the PCI card moves to COM40-COM47. /check
# lists exactly those ports; /apply renames them (the exchange through a free
# number) and /check then finds the layout; a second /apply changes nothing
# and switches no card off; /undo puts back what the first changed.
case_layouts() {
  sed 's/"comDb": false/"comDb": true/' "$BB_BENCH" >"$BB_CARDS"
  peek comdb "$bench_comdb" >/dev/null
  cli export 0 /export "$(layout_file golden.json)"
  [ "$(jq '.cards | length' "$BB_CASE/golden.json")" = 5 ] || fail "the layout does not name every card"
  jq -e '.cards[0] == {usbId: "USB\\VID_3F2C&PID_4104", location: "Port_#0002.Hub_#0005", locationPath: [1, 2],
    name: "Orvello UQ-4232 USB to 4 x RS-232", ports: [range(4) | {port: (. + 1), number: (. + 3)}]}' \
    "$BB_CASE/golden.json" >/dev/null || fail "the first card's entry"
  jq '.cards[0].ports[0].number = 4 | .cards[0].ports[1].number = 3 |
      .cards[3].ports |= map(.number = .port + 39)' "$BB_CASE/golden.json" >"$BB_CASE/edited.json"
  cp "$(cards_now)" "$BB_CASE/cards-before.json"
  cli check 1 /check "$(layout_file edited.json)"
  [ "$(wc -l <"$BB_CASE/check.txt")" = 11 ] || fail "/check lists other than the 10 ports that differ"
  contains check '布局不符: 10个串口的串口号与布局不同, 0个多串卡不存在'
  contains check '  1#(USB\VID_3F2C&PID_4104, 位置 Port_#0002.Hub_#0005) P1: 现为 COM3, 布局为 COM4'
  contains check 'P8: 现为 COM17, 布局为 COM47'
  [ ! -s "$BB_CASE/check.err.txt" ] || fail "/check wrote to standard error"
  cmp "$BB_CASE/cards-before.json" "$(cards_now)" || fail "/check changed the cards file"
  cli check_json 1 /check "$(layout_file edited.json)" /json
  [ "$(jq '.differing' "$BB_CASE/check_json.txt")" = 10 ] || fail "/check /json"
  cli apply 0 /apply "$(layout_file edited.json)" /yes
  diff <(port_names "$BB_BENCH" | sed 's/^COM3$/X/; s/^COM4$/COM3/; s/^X$/COM4/' |
    awk '{ n = substr($0, 4) + 0; print (n >= 10 && n <= 17) ? "COM" (n + 30) : $0 }') \
    <(port_names "$(cards_now)") || fail "the cards file holds other names"
  expect_comdb 1,3-9,20,40-47
  cli check_again 0 /check "$(layout_file edited.json)"
  contains check_again '布局相符: 布局中的5个多串卡的'
  # The simulator writes its cards file anew (a new file in the old one's
  # place) only when a card was switched or a port renamed.
  [ "$(cards_now)" = "$BB_CARDS" ] || fail "the apply left its changes in the change log"
  cp "$(journal)" "$BB_CASE/journal-applied.txt"
  local file
  file=$(stat -c %i "$BB_CARDS")
  cli apply_again 0 /apply "$(layout_file edited.json)" /yes
  expect apply_again '本机已是布局中的串口号,无需修改,未做任何修改.'
  [ ! -e "$BB_CARDS.log" ] && [ "$(stat -c %i "$BB_CARDS")" = "$file" ] || fail "the second apply switched a card"
  cmp "$BB_CASE/journal-applied.txt" "$(journal)" || fail "the second apply changed the journal"
  cli undo 0 /undo /yes
  diff <(port_names "$BB_BENCH") <(port_names "$(cards_now)") || fail "undo left other names"
  expect_comdb "$bench_comdb"
}

# A card of the layout that is not there: the present ones applied, 7. Two
# present cards of one identity, and bad files: 2, nothing changed.
case_layout_refusals() {
  sed 's/"comDb": false/"comDb": true/' "$BB_BENCH" >"$BB_CARDS"
  peek comdb "$bench_comdb" >/dev/null
  cli export 0 /export "$(layout_file golden.json)"
  jq '.cards[1].ports[0].number = 30 | .cards += [{usbId: "USB\\VID_3F2C&PID_9999", location: "Port_#0009.Hub_#0009",
      ports: [{port: 1, number: 31}]}]' "$BB_CASE/golden.json" >"$BB_CASE/missing.json"
  cli missing 7 /apply "$(layout_file missing.json)" /yes
  contains missing '布局中有1个多串卡不存在,未修改它们的串口.'
  diff <(port_names "$BB_BENCH" | sed 's/^COM7$/COM30/') <(port_names "$(cards_now)") ||
    fail "the present cards were not applied"
  cli missing_check 1 /check "$(layout_file missing.json)"
  contains missing_check '  不存在: USB\VID_3F2C&PID_9999, 位置 Port_#0009.Hub_#0009 ()'
  cp "$(cards_now)" "$BB_CASE/cards-before.json"
  local i=0 bad
  while read -r bad; do
    i=$((i + 1))
    jq "$bad" "$BB_CASE/golden.json" >"$BB_CASE/bad-$i.json"
    cli "bad-$i" 2 /apply "$(layout_file "bad-$i.json")" /yes
    grep -q '^布局无法使用: ' "$BB_CASE/bad-$i.err.txt" || fail "bad file $i: no reason"
  done <<'BAD'
.kestrovaLayout = 2
.cards[0].ports[0].number = 0
.cards[0].ports[0].number = 65536
.cards[0].ports[1].number = .cards[0].ports[0].number
.cards[0].ports[0].port = 9
BAD
  printf '{"kestrovaLayout": 1, "cards": [' >"$BB_CASE/bad-json.json"
  cli bad-json 2 /check "$(layout_file bad-json.json)"
  contains bad-json.err '布局文件不是JSON'
  cmp "$BB_CASE/cards-before.json" "$(cards_now)" || fail "a bad file changed the cards file"
  # The second USB card twice, as two identical cards with one location.
  jq '.cards[2] = (.cards[1] | .ports |= map(.name |= sub("COM"; "COM9")))' "$(cards_now)" >"$BB_CASE/twins.json"
  cp "$BB_CASE/twins.json" "$BB_CARDS"
  cli twins 2 /apply "$(layout_file golden.json)" /yes
  contains twins.err '第2个和第3个多串卡的标识相同'
  cmp "$BB_CASE/twins.json" "$(cards_now)" || fail "twins: the cards file changed"
}

# The configuration resource: the manifest against the published schema, and
# what get, test and set write (through standard input and output) against
# the schema it embeds; test ends with 0 either way and says so in the state.
case_dsc() {
  sed 's/"comDb": false/"comDb": true/' "$BB_BENCH" >"$BB_CARDS"
  peek comdb "$bench_comdb" >/dev/null
  cli get 0 /export - /dsc </dev/null
  jq 'del(._inDesiredState) | .cards[1].ports[1].number = 28' "$BB_CASE/get.txt" >"$BB_CASE/desired.json"
  cli test 0 /check - /dsc <"$BB_CASE/desired.json"
  [ "$(jq '._inDesiredState' "$BB_CASE/test.txt")" = false ] || fail "test: not out of the desired state"
  cli set 0 /apply - /yes /dsc <"$BB_CASE/desired.json"
  [ "$(jq '.cards[1].ports[1].number' "$BB_CASE/set.txt")" = 28 ] || fail "set: the state is not the new one"
  contains set.err ':COM8==>COM28: 成功'
  cli test_again 0 /check - /dsc <"$BB_CASE/desired.json"
  [ "$(jq '._inDesiredState' "$BB_CASE/test_again.txt")" = true ] || fail "test after set"
  "$top/tests/blackbox/validate-dsc" "$BB_ROOT/win64/installer/Kestrova.dsc.resource.json" \
    "$top/tests/blackbox/schemas/dsc-v3-resource-manifest.schema.json" \
    "$BB_CASE/get.txt" "$BB_CASE/test.txt" "$BB_CASE/set.txt" >"$BB_CASE/validate.txt" 2>&1 ||
    fail "not valid: $(cat "$BB_CASE/validate.txt")"
}
