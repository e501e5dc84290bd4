# The "try things by hand" commands of docs/getting-started.md, taken from the page itself and
# run as written, on this build's hxsim and hxcam, in the private network namespace this script
# runs in (the page's first line opens that namespace). A command that fails fails the test, so
# the page cannot drift from what the tools accept.
#   getting_started_test.sh HXSIM HXCAM
NAME=getting_started
. "$(dirname "$0")/../../support/beside_hxsim.sh"
PAGE="$(dirname "$0")/../../../docs/getting-started.md"
# The fenced block that opens with scripts/in-netns.
awk '/^```/ { if (inside) { if (wanted) exit; inside = 0 } else { inside = 1; first = 1 }; next }
     inside && first { first = 0; wanted = ($0 ~ /^scripts\/in-netns /) }
     inside && wanted { print }' "$PAGE" | sed 's/ *#.*$//' >"$WORK/block"
[ -s "$WORK/block" ] || { fail "no block opening with scripts/in-netns in $PAGE"; finish; }
count=0
while IFS= read -r line; do
  case $line in
    scripts/in-netns*|'') continue ;;
  esac
  command=$(printf '%s\n' "$line" | sed -e "s#build/release/sim/hxsim#$1#" -e "s#build/release/tools/hxcam/hxcam#$2#")
  count=$((count + 1))
  case $command in
    *'&')
      # The camera, in the background as on the page; the next command waits until it runs.
      start_hxsim sh -c "exec ${command%&}" ;;
    *)
      sh -c "$command" >"$WORK/$count.out" 2>&1 || { fail "'$line' failed:"; cat "$WORK/$count.out"; } ;;
  esac
done <"$WORK/block"
[ $count -ge 5 ] || fail "only $count commands in the block"
finish
