# Sourced by the commands in scripts/: telling a tool by what it says it is.
#
# A name on the PATH proves nothing: a machine may have another program, or a
# stand-in, under a name our scripts use (a `convert` that is not ImageMagick
# has been seen). So a tool counts only when its own version or usage output
# says what it is, and the scripts call ImageMagick through the path found here.

# says PATTERN COMMAND [ARGUMENTS...]
# True when COMMAND runs and prints, on either stream, a line matching the
# extended regular expression PATTERN. The output is taken whole before it is
# searched: `cmd | grep -q` would fail under pipefail when grep stops early.
says() {
  local pattern=$1 out
  shift
  command -v "$1" >/dev/null 2>&1 || return 1
  out=$(timeout 30 "$@" 2>&1 </dev/null) || true
  grep -Eq -- "$pattern" <<<"$out"
}

# Prints the path of ImageMagick's convert: the first one on the PATH that says
# it is ImageMagick, else Debian's own, which another `convert` earlier on the
# PATH may hide. Fails when there is none.
imagemagick_convert() {
  local candidate
  for candidate in $(type -ap convert) /usr/bin/convert /usr/bin/convert-im6.q16; do
    if says '^Version: ImageMagick' "$candidate" -version; then
      echo "$candidate"
      return 0
    fi
  done
  return 1
}
