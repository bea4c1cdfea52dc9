#!/usr/bin/env bash
# Builds the Debian package from a build folder and checks it the way a user's
# system will take it: lintian (no errors, and no warning that the overrides
# file does not explain), the desktop entry and AppStream validators on the
# installed files, and the program itself, run from the unpacked package.
# Usage: check_package.sh BUILD_DIR VERSION_TEXT
set -euo pipefail
build=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work" >/dev/null)
deb=$(echo "$work"/kav_*.deb)
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

lintian --fail-on error,warning "$deb"

# The libraries it links, and the image plugins that the underlay loads.
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6widgets6 libdxflib3 qt6-image-formats-plugins libqt6svg6; do
  if [[ "$depends" != *"$needed"* ]]; then
    echo "the package does not depend on $needed: $depends" >&2
    exit 1
  fi
done

dpkg-deb -x "$deb" "$work/root"
desktop-file-validate "$work"/root/usr/share/applications/*.desktop
appstreamcli validate --no-net "$work"/root/usr/share/metainfo/*.metainfo.xml

printed=$(QT_QPA_PLATFORM=offscreen "$work/root/usr/bin/kav" --version)
if [[ "$printed" != "kav $version" ]]; then
  echo "the unpacked kav printed '$printed', not 'kav $version'" >&2
  exit 1
fi
echo "the unpacked kav runs: $printed"
