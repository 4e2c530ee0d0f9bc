# The kernel tier's rows, and checks over a row's files in $dir (times in the remote's): each
# adds what does not hold to $failures, what it measured to $figures.
# each_row COMMAND, for each row this run takes (wanted by name; under Wine in the Windows run only).
each_row() {
  while IFS='|' read -r -u 9 name driver script start action checks; do  # on 9: no row reads them
    [[ -n $name && $name != \#* ]] && [[ $only == all || ,$only, == *,$name,* ]] &&
      [[ $start == wine* && -n $windows || $start != wine* && -z $windows ]] && "$@"
  done 9<"$here/rows.txt"
}
fact() { sed -n "s/^$1=//p" "$dir/facts" 2>/dev/null | tail -n 1; }
fail_check() { failures+="$*; "; }
ms_between() { awk -v a="$1" -v b="$2" 'BEGIN { if (a != "" && b != "") printf "%.1f", b - a }'; }
# within MS LIMIT WHAT: MS is known and at most LIMIT.
within() { [ -n "$1" ] && awk -v d="$1" -v l="$2" 'BEGIN { exit !(d <= l) }' || fail_check "$3: ${1:-never}, not within $2 ms"; }
# Times of the reports that start with BYTES; "A>B": of the first B after each A.
times_of() {
  awk -v pattern="$1" 'BEGIN { n = split(pattern, p, ">") } { t = $1; $1 = ""; sub(/^ /, "") }
    index($0, p[1]) == 1 { if (n == 1) print t; else armed = 1; next }
    armed && index($0, p[2]) == 1 { print t; armed = 0 }' "$dir/remote.log"
}
# The first time at or after T that BYTES came (points: that tavolen read IR points).
first_after() { if [ "$2" = points ]; then point_times; else times_of "$2"; fi | awk -v t="$1" '$1 >= t { print; exit }'; }
# A trigger's times: a script time; 31 or 33, tavolen's first 12 00 31 or 12 00 33 once udev's
# rules had run (they open the driver's input devices a moment); or the reports sent after 33.
trigger_times() {
  if [[ $1 == 3[13] ]]; then first_after "$(at settled_at)" "12 00 $1"
  elif [[ $1 =~ ^[0-9.]+$ ]]; then echo "$1"
  else times_of "$1" | awk -v t="$(first_after 0 "12 00 33")" 't != "" && $1 > t'; fi
}
# The 0x33 reports tavolen read with point 1 seen (its recording's 12 00 31 is the log's first).
point_times() {
  awk -v log31="$(trigger_times 31)" '$1 == "#" && $4 $5 $6 == "120031" && o == "" { o = log31 - $2 }
    $2 == "raw" && $3 == "33" && $9 $10 $11 != "FFFFFF" { print $1 + o }' "$dir/tavolen.rec" 2>/dev/null
}
# A fact *_at (ms after the node appeared, as the driver's first request went out) in the remote's time.
at() { awk -v t="$(fact "$1")" -v f="$(head -n 1 "$dir/remote.log" | cut -d' ' -f1)" 'BEGIN { if (t != "") printf "%.1f", t + f }'; }
exits() { [ "$(cat "$dir/tavolen.code")" = "$1" ] || fail_check "tavolen ended with '$(cat "$dir/tavolen.code")', not $1"; }
# Tavolen's messages, or a fact, match the pattern (extended, as in [[ ]]: !(*x*) for "without x").
says() { [[ $(cat "$dir/tavolen.err") == $1 ]] || fail_check "tavolen's messages are not '$1'"; }
fact_has() { [[ $(fact "${1// /_}") == $2 ]] || fail_check "$1 is '$(fact "${1// /_}")', not '$2'"; }
never_sent() { [ -z "$(times_of "$1")" ] || fail_check "'$1' was sent"; }
# The reports came in this order (others between them) after each trigger.
sent_after() {
  local at from bytes
  [ -n "$(trigger_times "$1")" ] || fail_check "no '$1' to follow"
  for at in $(trigger_times "$1"); do
    from=$at
    for bytes in "${@:2}"; do
      from=$(first_after "$from" "$bytes")
      [ -n "$from" ] || { fail_check "no '$bytes' in order after '$1' at $at"; break; }
    done
  done
}
# Every trigger is followed by BYTES (or points) within LIMIT ms; the delays are figures.
answers() {
  local at delay delays=""
  for at in $(trigger_times "$1"); do
    delay=$(ms_between "$at" "$(first_after "$at" "$2")") && delays+=" ${delay:-never}"
    within "$delay" "$3" "'$2' after '$1' at $at"
  done
  [ -n "$delays" ] || fail_check "no '$1' to answer"
  figures+="$4 '$2' after '$1':$delays ms; "
}
# The modes set from trigger FROM to time TO (end: the last), e.g. "30 31 33", match the pattern.
modes() {
  local from=$(trigger_times "$1" | head -n 1) set
  set=$(awk -v f="${from:-0}" -v t="${2/end/1e12}" '$1 >= f && $1 < t && $2 == "12" { printf "%s%s", s, $4; s = " " }' "$dir/remote.log")
  [[ $set == $3 ]] || fail_check "the modes from '$1' to $2 were '$set', not '$3'"
}
# Tavolen's process had ended within LIMIT ms of FROM.
ended_within() {
  local delay=$(ms_between "$1" "$(at ended_at)")
  within "$delay" "$2" "tavolen's end after '$1'"
  figures+="tavolen ended ${delay:-?} ms after '$1'; "
}
# The reports the log holds are those the recording of row ROW says tavolen sent, in order.
sent_as_recorded() {
  local recorded=$(tr -d '\r' <"$results/$1/tavolen.rec" 2>/dev/null | sed -n 's/^# [0-9]* sent //p')
  [ -n "$recorded" ] && [ "$recorded" = "$(cut -d' ' -f2- "$dir/remote.log" | grep -v '^close$')" ] ||
    fail_check "the reports sent are not the $(wc -l <<<"$recorded") of $1's recording"
  figures+="$(wc -l <<<"$recorded") reports as recorded; "
}
# The fact (ms) is at most LIMIT: a figure too.
fact_within() { within "$(fact "$1")" "$2" "$1"; figures+="$3 $(fact "$1") ms; "; }
