#!/usr/bin/env bash
# The Debian package: built with CPack from the tree scripts/test just built, its run-time
# dependencies declared, lintian silent on it, unpacked into a temporary folder; the unpacked
# programs start, the menu entries, AppStream files, manual pages and the service unit validate,
# and the launcher starts a program in a folder of its own.
set -euo pipefail
cd "$(dirname "$0")/../.."
preset=dev
[[ -n "${CI:-}" ]] && preset=ci
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "build/$preset" && cpack -G DEB -B "$work/out" >/dev/null)
debs=("$work"/out/*.deb)
deb=${debs[0]}
echo "-- $(basename "$deb")"
depends=$(dpkg-deb -f "$deb" Depends)
# libqt6sql6-sqlite is declared by hand: the scan does not see plugins.
for lib in libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libqt6sql6 libqt6sql6-sqlite libqt6dbus6 \
  libasound2 libsndfile1 libsamplerate0 libkissfft-float131 libeccodes0; do
  if [[ ", $depends," != *", $lib "* && ", $depends," != *", $lib,"* ]]; then
    echo "the package does not declare $lib: Depends: $depends" >&2
    exit 1
  fi
done

# Every error, warning and override lintian has; a tag that is wrong for this package is
# overridden in packaging/lintian-overrides with the reason.
lintian --fail-on error,warning --display-level '>=warning' --show-overrides "$deb"

dpkg -x "$deb" "$work/root"
version=$(dpkg-deb -f "$deb" Version)
for program in tavrin pelmora relay probegen; do
  [[ -x "$work/root/usr/bin/$program" ]] || { echo "usr/bin/$program missing" >&2; exit 1; }
  [[ $("$work/root/usr/bin/$program" --version) == "$program $version" ]] ||
    { echo "$program --version is not $version" >&2; exit 1; }
  zgrep -q "^\.TH .*\"tavrin-pelmora $version\"" "$work/root/usr/share/man/man1/$program.1.gz" ||
    { echo "the manual page of $program is not for $version" >&2; exit 1; }
done
tests/packaging/manual_pages.sh "$work/root/usr/share/man/man1" "$work"/root/usr/bin/{tavrin,pelmora,relay,probegen}
zgrep -q "^tavrin-pelmora ($version) " "$work/root/usr/share/doc/tavrin-pelmora/changelog.gz"

for program in tavrin pelmora; do
  metainfo="$work/root/usr/share/metainfo/org.tavrin_pelmora.$program.metainfo.xml"
  appstreamcli validate --no-net "$metainfo" >/dev/null || appstreamcli validate --no-net "$metainfo"
  grep -q "<release version=\"$version\"" "$metainfo"
done

# The unit as the user manager would load it, and as a system unit with User=, its program and
# manual page in the unpacked tree; a warning of systemd-analyze fails the check like an error.
unit="$work/root/usr/lib/systemd/user/tavrin.service"
mkdir -p "$work/user" "$work/system" "$work/run"
chmod 700 "$work/run"
sed "s|/usr/libexec/|$work/root/usr/libexec/|" "$unit" >"$work/user/tavrin.service"
grep -q "^ExecStart=$work/root/usr/libexec/tavrin/start-in-folder tavrin --unattended" \
  "$work/user/tavrin.service"
sed 's/^\[Service\]$/&\nUser=daemon/' "$work/user/tavrin.service" >"$work/system/tavrin.service"
verify=$( {
  MANPATH="$work/root/usr/share/man" XDG_RUNTIME_DIR="$work/run" \
    systemd-analyze --user verify "$work/user/tavrin.service" &&
    MANPATH="$work/root/usr/share/man" systemd-analyze verify "$work/system/tavrin.service"
} 2>&1) || { echo "$verify" >&2; exit 1; }
[[ -z $verify ]] || { echo "$verify" >&2; exit 1; }

desktop-file-validate "$work"/root/usr/share/applications/{tavrin,pelmora}.desktop
for program in tavrin pelmora; do
  entry="$work/root/usr/share/applications/$program.desktop"
  grep -qx "Exec=/usr/libexec/tavrin/start-in-folder $program" "$entry"
  grep -qx "Icon=$program" "$entry"
  [[ -s "$work/root/usr/share/icons/hicolor/scalable/apps/$program.svg" ]]
  # The launcher as the menu runs it (here from the unpacked tree): folder made, program started.
  HOME="$work/home" "$work/root/usr/libexec/tavrin/start-in-folder" "$program" --version
  [[ -d "$work/home/$program" ]]
done
[[ -s "$work/root/usr/share/doc/tavrin-pelmora/README.md" ]]
# The windows' English translation where the programs look for it, beside bin/.
for program in tavrin pelmora; do
  [[ -s "$work/root/usr/share/tavrin-pelmora/translations/${program}_en.qm" ]] ||
    { echo "the ${program}_en.qm translation is not in the package" >&2; exit 1; }
done
echo "-- package checked"
