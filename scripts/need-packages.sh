# Sourced by the scripts beside it.  need_packages NAME...: installs the
# Debian packages that are not installed yet, updating the lists only when
# something is missing.
need_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
  fi
}
