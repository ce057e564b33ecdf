# Fetches Debian's own source packages for the Windows builds (scripts/setup-qt-windows,
# scripts/setup-sqlite-windows). Sourced, not run.
#
# Sources come through apt with a private source list that holds only the deb-src entries, so the
# system's own apt configuration is never changed and nothing is left behind.
#
#   debian_source_init TOOL WORK   a private apt under WORK/apt, its lists fetched; TOOL names the
#                                  script in messages
#   debian_source_fetch PACKAGE VERSION INTO
#                                  downloads the source of PACKAGE at VERSION into INTO, checks
#                                  every file its .dsc names against its SHA-256 and unpacks it,
#                                  Debian's patches applied, into INTO/src

debian_source_init() {
  debian_source_tool=$1
  local apt_dir=$2/apt
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
  cat >"$apt_dir/sources.list" <<'LIST'
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm-updates main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian-security bookworm-security main
LIST
  debian_source_apt_options=(
    -o "Dir::Etc::SourceList=$apt_dir/sources.list" -o Dir::Etc::SourceParts=/nonexistent
    -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
    -o APT::Sandbox::User=root -qq
  )
  apt-get "${debian_source_apt_options[@]}" update
}

debian_source_fetch() {
  local package=$1 want=$2 into=$3
  mkdir -p "$into"
  (cd "$into" && apt-get "${debian_source_apt_options[@]}" source --download-only "$package=$want" >/dev/null)
  local dsc
  dsc=$(ls "$into"/*.dsc)
  awk '/^Checksums-Sha256:/ { on = 1; next } /^[^ ]/ { on = 0 } on && NF == 3 { print $1 "  " $3 }' \
    "$dsc" >"$into/sums"
  if [ ! -s "$into/sums" ]; then
    echo "$debian_source_tool: $dsc names no checksums" >&2
    exit 1
  fi
  if ! (cd "$into" && sha256sum --quiet -c sums); then
    echo "$debian_source_tool: the $package source does not match its .dsc" >&2
    exit 1
  fi
  dpkg-source --no-check -x "$dsc" "$into/src" >/dev/null
}
