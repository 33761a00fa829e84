#!/usr/bin/env bash
# Builds the Debian package from a configured build folder (default build/) and checks it: the
# files it must hold, the desktop entry, AppStream metadata and user unit as their own tools judge
# them, the manual page against the program's --help, one version everywhere, the unpacked
# program running, `cmake --install` giving the same files, and lintian.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
app_id=org.quorvel.Quorvel
failures=0
fail() {
  echo "check-package: $*" >&2
  failures=$((failures + 1))
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake" \
  2>/dev/null || true)
[ -n "$version" ] || { echo "check-package: $build is not a configured build folder" >&2; exit 1; }
deb="$build/quorvel_${version}_$(dpkg --print-architecture).deb"
rm -f "$deb"
cmake --build "$build" --target package >"$work/package.log" 2>&1 || {
  cat "$work/package.log"
  echo "check-package: the package did not build" >&2
  exit 1
}
[ -f "$deb" ] || { echo "check-package: $deb was not made" >&2; exit 1; }
echo "check-package: $deb"

# The files a user of the package relies on.
dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|' >"$work/contents"
for path in /usr/bin/quorvel \
  "/usr/share/applications/$app_id.desktop" \
  "/usr/share/icons/hicolor/scalable/apps/$app_id.svg" \
  "/usr/share/metainfo/$app_id.metainfo.xml" \
  /usr/share/man/man1/quorvel.1.gz \
  /usr/lib/systemd/user/quorvel.service \
  /usr/share/doc/quorvel/copyright \
  /usr/share/doc/quorvel/changelog.gz; do
  grep -qxF "$path" "$work/contents" || fail "the package lacks $path"
done

root="$work/root"
dpkg-deb -x "$deb" "$root"

# The program runs from the unpacked package, with no display and no settings file touched.
reported=$(HOME="$work/home" QT_QPA_PLATFORM=offscreen "$root/usr/bin/quorvel" --version 2>&1) ||
  fail "the packaged quorvel --version failed: $reported"
[ "$reported" = "quorvel $version" ] ||
  fail "the packaged quorvel --version says \"$reported\", not \"quorvel $version\""

# Desktop entry and AppStream metadata, each as its own validator sees it; validate-tree also
# checks that the metadata's launchable names the desktop entry that is installed.
desktop="$root/usr/share/applications/$app_id.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $app_id.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/$app_id.metainfo.xml" >"$work/as.log" ||
  { cat "$work/as.log"; fail "appstreamcli validate rejects the metainfo"; }
appstreamcli validate-tree --no-net "$root" >"$work/as-tree.log" ||
  { cat "$work/as-tree.log"; fail "appstreamcli validate-tree rejects the installed tree"; }
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] ||
  fail "the desktop entry's icon \"$icon\" is not installed"

# Every option the program offers has its own paragraph among the manual page's options.
zcat "$root/usr/share/man/man1/quorvel.1.gz" | sed 's/\\-/-/g' |
  awk '/^\.SH / { options = ($2 == "OPTIONS") } options && previous == ".TP" { print }
       { previous = $0 }' >"$work/option-tags"
"$root/usr/bin/quorvel" --help 2>/dev/null | grep -oE '^ +(-[a-zA-Z], )?--[a-z][a-z-]*' |
  grep -oE -- '--[a-z-]+' >"$work/options"
[ -s "$work/options" ] || fail "no options found in quorvel --help"
while read -r option; do
  grep -qE -- "(^|[^a-z-])$option([^a-z-]|\$)" "$work/option-tags" ||
    fail "the manual page has no paragraph for $option"
done <"$work/options"
if command -v man >/dev/null; then
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
    man --warnings -E UTF-8 -l -Tutf8 -Z "$root/usr/share/man/man1/quorvel.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "the manual page has formatting errors: $warnings"
fi

# The user unit starts the headless relay from where the package puts it. systemd-analyze
# checks the unit with the program at its unpacked path; it reports problems as text.
unit="$root/usr/lib/systemd/user/quorvel.service"
grep -qxF 'ExecStart=/usr/bin/quorvel --headless' "$unit" ||
  fail "the unit does not run /usr/bin/quorvel --headless"
grep -qxF 'Restart=on-failure' "$unit" || fail "the unit is not restarted on failure"
if command -v systemd-analyze >/dev/null; then
  mkdir "$work/unit"
  sed "s|^ExecStart=/usr/bin/|ExecStart=$root/usr/bin/|" "$unit" >"$work/unit/quorvel.service"
  problems=$(systemd-analyze verify --man=no "$work/unit/quorvel.service" 2>&1) ||
    fail "systemd-analyze verify failed: $problems"
  [ -z "$problems" ] || fail "systemd-analyze verify: $problems"
fi

# One version: the package's, the changelog's latest entry, the metadata's latest release.
changelog_version=$(zcat "$root/usr/share/doc/quorvel/changelog.gz" |
  dpkg-parsechangelog -l - -S Version)
[ "$changelog_version" = "$version" ] ||
  fail "the changelog's latest entry is $changelog_version, the package is $version"
release=$(grep -oE '<release version="[^"]*"' "$root/usr/share/metainfo/$app_id.metainfo.xml" |
  head -n 1 | cut -d'"' -f2)
[ "$release" = "$version" ] || fail "the metainfo's latest release is $release, not $version"

# `cmake --install` to another prefix installs the same files, and the unit follows the prefix.
DESTDIR="$work/installed" cmake --install "$build" --prefix /usr/local >/dev/null
(cd "$work/installed" && find . ! -type d | sed 's|^\./usr/local/|/usr/|' | sort) \
  >"$work/installed.list"
(cd "$root" && find . ! -type d | sed 's|^\.||' | sort) >"$work/package.list"
diff -u "$work/package.list" "$work/installed.list" >&2 ||
  fail "cmake --install and the package install different files"
grep -qxF 'ExecStart=/usr/local/bin/quorvel --headless' \
  "$work/installed/usr/local/lib/systemd/user/quorvel.service" ||
  fail "the unit installed under /usr/local does not run /usr/local/bin/quorvel"

# Lintian, when there: errors fail the check; its other findings are shown.
if command -v lintian >/dev/null; then
  lintian_status=0
  lintian --fail-on error --info "$deb" >"$work/lintian.log" 2>&1 || lintian_status=$?
  grep -v 'running with root privileges' "$work/lintian.log" || true
  [ "$lintian_status" -eq 0 ] || fail "lintian reports errors"
else
  echo "check-package: lintian is not installed; skipped"
fi

if [ "$failures" -ne 0 ]; then
  echo "check-package: $failures check(s) failed" >&2
  exit 1
fi
echo "check-package: all checks passed"
