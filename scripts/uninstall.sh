#!/usr/bin/env bash
# Removes what scripts/run.sh installed for this user: the files listed in the
# install manifest of build/release, the registration of Daybrook as the handler
# of daybrook: links, and a launch-at-login entry that starts the removed program.
# Your settings and the Todoist sign-in in the keyring are kept (see the end).
#   uninstall.sh [--prefix DIR] [--manifest FILE]    (default: ~/.local, build/release/install_manifest.txt)
set -euo pipefail
cd "$(dirname "$0")/.."

prefix=$HOME/.local
manifest=build/release/install_manifest.txt
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) prefix=$2; shift 2 ;;
    --manifest) manifest=$2; shift 2 ;;
    -h|--help) sed -n '2,6p' "$0"; exit 0 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done
if [ ! -f "$manifest" ]; then
  echo "No install manifest at $manifest: nothing to remove (was Daybrook installed with scripts/run.sh?)" >&2
  exit 1
fi
prefix=$(realpath -m "$prefix")
config=${XDG_CONFIG_HOME:-$HOME/.config}

# Only files under the prefix: the manifest may come from an install elsewhere.
removed=0
while IFS= read -r file || [ -n "$file" ]; do  # the last line has no newline
  [ -n "$file" ] || continue
  case "$(realpath -m "$file")" in
    "$prefix"/*) ;;
    *) echo "Kept $file: not under $prefix" >&2; continue ;;
  esac
  if [ -e "$file" ] || [ -L "$file" ]; then
    rm -f -- "$file"
    removed=$((removed + 1))
  fi
done < "$manifest"

# The handler registration that run.sh made with `xdg-mime default`.
if [ -f "$config/mimeapps.list" ]; then
  sed -i '/^x-scheme-handler\/daybrook=daybrook\.desktop;\?$/d' "$config/mimeapps.list"
fi
# A launch-at-login entry would start a program that is gone.
autostart=$config/autostart/daybrook.desktop
if [ -f "$autostart" ] && grep -q "^Exec=\"\?$prefix/bin/daybrook" "$autostart"; then
  rm -f -- "$autostart"
fi
applications=$prefix/share/applications
if [ -d "$applications" ] && command -v update-desktop-database >/dev/null; then
  update-desktop-database "$applications" 2>/dev/null || true
  # The cache run.sh had created, now for nothing.
  if ! compgen -G "$applications/*.desktop" >/dev/null; then rm -f -- "$applications/mimeinfo.cache"; fi
fi
if [ -f "$prefix/share/icons/hicolor/icon-theme.cache" ] && command -v gtk-update-icon-cache >/dev/null; then
  gtk-update-icon-cache -f -t "$prefix/share/icons/hicolor" 2>/dev/null || true
fi

echo "Removed $removed installed files from $prefix."
echo "Kept your settings ($config/daybrook) and the Todoist sign-in; to remove them too:"
echo "  rm -r '$config/daybrook'"
echo "  secret-tool clear server com.daybrook.todoist user access_token"
