# Sourced by the set-up scripts: apt_update refreshes the package lists.
# A mirror caught mid-sync serves an index of the wrong size ("Mirror sync in
# progress?") for minutes or hours; apt then keeps the lists that did arrive
# and exits non-zero. apt_update tries three times, then goes on with those
# lists: the install that follows fails on its own, naming the package, if
# something it needs is not among them. Always returns 0.
apt_update() {
  local attempt
  for attempt in 1 2 3; do
    DEBIAN_FRONTEND=noninteractive apt-get update -qq -o Acquire::Retries=3 >&2 && return 0
    echo "apt-update: package lists incomplete (attempt $attempt of 3)" >&2
    [ $attempt -eq 3 ] || sleep 20
  done
  return 0
}
