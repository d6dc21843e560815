#!/usr/bin/env bash
# Builds the Debian package from a finished build folder and checks it: the
# files it holds (unpacked into a scratch root), its control fields, and
# lintian (no error).
#   check-deb.sh BUILD-DIR CHANGELOG
set -euo pipefail
build=$(realpath "$1")
changelog=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
fail() {
  echo "FAIL: $*"
  status=1
}

if ! (cd "$build" && cpack -G DEB -B "$scratch/out") >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log"
  echo "FAIL: cpack could not build the package"
  exit 1
fi
debs=("$scratch"/out/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: expected one .deb, found: ${debs[*]}"; exit 1; }
deb=${debs[0]}
echo "package: $(basename "$deb")"
root="$scratch/root"
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$scratch/control"

# Everything under /usr; the programs in /usr/bin, stripped, no test programs.
(cd "$root" && find . -mindepth 1 -maxdepth 1) | grep -vx './usr' && fail "files outside /usr"
for program in brevand brevand-batch norvane-editor; do
  [ -x "$root/usr/bin/$program" ] || fail "/usr/bin/$program missing"
done
for program in "$root"/usr/bin/*; do
  name=$(basename "$program")
  file -b "$program" | grep -q 'ELF.*, stripped' || fail "/usr/bin/$name is not a stripped program"
  case "$name" in
    *test* | *bench* | *fuzz* | *_eval) fail "/usr/bin/$name is a development program" ;;
  esac
done

# The bus starts the installed editor.
service="$root/usr/share/dbus-1/services/norvane.norvanex.service"
grep -qx 'Name=norvane.norvanex' "$service" || fail "activation file: wrong or no Name"
grep -qx 'Exec=/usr/bin/norvane-editor' "$service" || fail "activation file: Exec is $(grep Exec "$service" || true)"
grep -rl --exclude='*.gz' "$build" "$root" && fail "files name the build folder"

# Desktop entries, icons, the MIME type, manual pages, the Debian documents.
for f in applications/brevand.desktop applications/norvane-editor.desktop \
    icons/hicolor/scalable/apps/brevand.svg icons/hicolor/scalable/apps/norvane-editor.svg \
    icons/hicolor/48x48/apps/brevand.png mime/packages/norvane-editor.xml \
    man/man1/brevand.1.gz man/man1/brevand-batch.1.gz man/man1/norvane-editor.1.gz \
    doc/norvane-brevand/copyright doc/norvane-brevand/changelog.Debian.gz \
    lintian/overrides/norvane-brevand; do
  [ -f "$root/usr/share/$f" ] || fail "/usr/share/$f missing"
done
for entry in "$root"/usr/share/applications/*.desktop; do
  exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
  icon=$(sed -n 's/^Icon=//p' "$entry")
  [ -x "$root/usr/bin/$exec_program" ] || fail "$(basename "$entry"): Exec=$exec_program is not in /usr/bin"
  ls "$root"/usr/share/icons/hicolor/*/apps/"$icon".* >/dev/null 2>&1 || fail "$(basename "$entry"): no icon $icon"
done
(cd "$root" && md5sum --quiet -c "$scratch/control/md5sums") || fail "md5sums do not match the files"

# Control fields: dependencies from the programs, the version of the changelog.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libc6 libqt6core6 libqt6widgets6 libqt6dbus6 qt6-qpa-plugins; do
  grep -Eq "(^|, )$lib( |,|$)" <<<"$depends" || fail "Depends lacks $lib"
done
version=$(dpkg-deb -f "$deb" Version)
top=$(sed -n '1s/^[^(]*(\([^)]*\)).*/\1/p' "$changelog")
[ "$version" = "$top" ] || fail "package version $version, changelog's $top"
for field in Maintainer Section Priority Description Architecture; do
  [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "no $field field"
done

# Lintian: warnings are shown, errors fail.
lintian --fail-on error "$deb" 2>&1 | grep -v 'running with root privileges' | tee "$scratch/lintian.log" || true
grep -q '^E:' "$scratch/lintian.log" && fail "lintian reports errors"

[ $status -eq 0 ] && echo "package checked: $(basename "$deb")"
exit $status
