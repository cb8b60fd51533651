# shellcheck shell=bash
# Sourced by the set-up scripts: every apt-get of the set-up goes through
# here. Each function reads apt's own configuration (APT_CONFIG included), so
# a test can point all of it at sources, lists and a package status of its
# own.
#
# A Debian mirror caught mid-sync serves an index of the wrong size ("Mirror
# sync in progress?") for minutes, and has been seen to for days; apt then
# keeps the lists that did arrive and exits non-zero. Typically one
# architecture's index of one release is missing, say the security archive's
# i386 one: apt then wants the amd64 half of a multi-arch library (zlib1g,
# libssl3, ...) from that release, finds its i386 twin only elsewhere at
# another version, and gives up ("held broken packages").

# apt_update [apt-get options...]: refreshes the package lists. Tries three
# times, 20 s apart, then goes on with the lists that did arrive: apt_get
# copes with a missing index. Always returns 0.
apt_update() {
  local attempt
  for attempt in 1 2 3; do
    DEBIAN_FRONTEND=noninteractive apt-get update -qq -o Acquire::Retries=3 "$@" >&2 && return 0
    echo "apt: package lists incomplete (attempt $attempt of 3)" >&2
    [ $attempt -eq 3 ] || sleep 20
  done
  return 0
}

# apt_index_targets KIND: one line for each index of KIND (Packages or
# Sources) that `apt-get update` fetches for the configured sources, read
# from the lists on disk alone (so a later script knows what an earlier
# update left), as four tab-separated fields:
#   state    "present" (its file is among the lists), "unoffered" (the
#            release file on disk does not list it: the repository has no
#            such index, and apt skips it) or "missing" (it failed to arrive);
#   release  the release as the sources name it (bookworm-security);
#   pin      how apt's preferences name that release (o=Debian,l=...,n=...),
#            from its release file; empty when that file is missing too;
#   index    apt's description of the index, as its error messages give it.
# Prints nothing if apt cannot list its targets. Always returns 0.
apt_index_targets() {
  local tab=$'\t' file key release compressed description state ext prefix rel pin
  apt-get indextargets --no-release-info "Created-By: $1" "Optional: no" \
      --format "\$(FILENAME)$tab\$(METAKEY)$tab\$(RELEASE)$tab\$(KEEPCOMPRESSEDAS)$tab\$(DESCRIPTION)" 2>/dev/null |
  while IFS=$tab read -r file key release compressed description; do
    state=missing
    for ext in "" $compressed; do        # apt keeps an index as FILE or FILE.<compression>
      [ "$ext" = uncompressed ] && continue
      [ -f "$file${ext:+.$ext}" ] && { state=present; break; }
    done
    # The release file lies beside the index: FILENAME is its folder's name
    # followed by the METAKEY, '/' written as '_'.
    prefix=${file%"${key//\//_}"}
    rel=""; pin=""
    for f in "${prefix}InRelease" "${prefix}Release"; do
      [ -f "$f" ] && { rel=$f; break; }
    done
    if [ -n "$rel" ]; then
      # Its fields come before the first list of files (an InRelease file
      # opens with the signature's header, which names none of them).
      pin=$(awk -F': ' '/^ / { exit } $1 == "Origin" { p = p ",o=" $2 } $1 == "Label" { p = p ",l=" $2 }
                        $1 == "Codename" { p = p ",n=" $2 } END { print substr(p, 2) }' "$rel")
      if [ $state = missing ] && ! awk -v k="$key" 'NF == 3 && ($3 == k || index($3, k ".") == 1) { f = 1 }
                                                  END { exit !f }' "$rel"; then
        state=unoffered
      fi
    fi
    printf '%s\t%s\t%s\t%s\n' "$state" "$release" "$pin" "$description"
  done
  return 0
}

# apt_get install|source ARGS...: `apt-get install ARGS` or `apt-get source
# ARGS`, non-interactive. With complete lists it is exactly that. When an
# index that the command reads (Packages for install, Sources for source)
# failed to arrive, it says so in one line and, for install, gives each
# release with a missing index the priority of installed packages (100) for
# this one command: what is installed from that release stays, and what is
# new comes from the releases whose lists are whole, both architectures of a
# library at one version. The pin goes to a temporary preferences folder that
# also carries the configured parts, so nothing is written to /etc/apt. If
# the command then fails, a second line names the packages and the missing
# index. Returns apt-get's status.
apt_get() {
  local kind=Packages doing=install targets missing
  [ "$1" = source ] && { kind=Sources; doing="fetch the source of"; }
  targets=$(apt_index_targets "$kind")
  missing=$(printf '%s\n' "$targets" | awk -F'\t' '$1 == "missing"')
  if [ -z "$missing" ]; then
    DEBIAN_FRONTEND=noninteractive apt-get "$@"
    return
  fi

  local indexes releases pinned whole prefs="" parts="" options=() rc=0
  indexes=$(printf '%s\n' "$missing" | awk -F'\t' '{ printf "%s%s", (NR > 1 ? ", " : ""), $4 }')
  releases=$(printf '%s\n' "$missing" | awk -F'\t' '!seen[$2]++ { printf " %s", $2 }')
  whole=$(printf '%s\n' "$targets" | awk -F'\t' -v skip="$releases " \
    '$1 == "present" && !index(skip, " " $2 " ") && !seen[$2]++ { printf "%s%s", (n++ ? ", " : ""), $2 }')
  if [ $kind = Packages ]; then
    pinned=$(printf '%s\n' "$missing" | awk -F'\t' '$3 != "" && !seen[$2]++ { printf "%s%s", (n++ ? ", " : ""), $2 }')
    prefs=$(mktemp -d "${TMPDIR:-/tmp}/apt-preferences.XXXXXX")
    eval "$(apt-config shell parts Dir::Etc::PreferencesParts/d)"
    if [ -n "$parts" ] && [ -d "$parts" ]; then cp -a "$parts/." "$prefs/" || true; fi
    # First in the folder: a general pin of the same release further on
    # does not override it.
    printf '%s\n' "$missing" | awk -F'\t' '$3 != "" && !seen[$3]++ {
      printf "Package: *\nPin: release %s\nPin-Priority: 100\n\n", $3 }' >"$prefs/00-missing-index.pref"
    options=(-o Dir::Etc::PreferencesParts="$prefs")
    echo "apt: package index of $indexes incomplete: installing from ${whole:-the other releases}${pinned:+ ($pinned pinned to what is installed)}" >&2
  else
    echo "apt: package index of $indexes incomplete: fetching sources from ${whole:-the other releases}" >&2
  fi
  DEBIAN_FRONTEND=noninteractive apt-get "${options[@]}" "$@" || rc=$?
  [ -z "$prefs" ] || rm -rf "$prefs"
  if [ $rc -ne 0 ]; then
    local names=() arg skip=0
    for arg in "${@:2}"; do
      if [ $skip = 1 ]; then skip=0; continue; fi
      case $arg in -o|-t|-c) skip=1 ;; -*) ;; *) names+=("$arg") ;; esac
    done
    echo "apt: cannot $doing ${names[*]}: the package index of $indexes did not arrive (mirror mid-sync?); run the set-up again later" >&2
  fi
  return $rc
}
