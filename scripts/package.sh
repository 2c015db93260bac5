#!/usr/bin/env bash
# Builds the Debian package of the utility (Release, into build-pkg/) and checks it: the desktop
# entry validates, and the package holds the three programs, the desktop entry and the icon at
# every size, with the library packages they need as dependencies.
#   bash scripts/package.sh [DIR]      build (in DIR, default build-pkg) and check
#   apt-get install ./build-pkg/kt580-utility_*.deb    install it
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${1:-build-pkg}"
if [ ! -f "$dir/CMakeCache.txt" ]; then
    # Only what goes into the package.
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKT_BENCH=OFF -DBUILD_TESTING=OFF \
        >/dev/null
fi
cmake --build "$dir" -j"$(nproc)"
desktop-file-validate packaging/kt580-utility.desktop
rm -f "$dir"/kt580-utility_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/kt580-utility_*.deb)
echo "Package: $deb"
dpkg-deb --field "$deb" Package Version Depends

contents=$(dpkg-deb --contents "$deb" | awk '{print $6}')
missing=0
expect() {
    if ! grep -qx "\./$1" <<<"$contents"; then
        echo "missing from the package: /$1" >&2
        missing=1
    fi
}
for program in kt580-utility kt580-sim kt580-query; do
    expect "usr/bin/$program"
done
expect "usr/share/applications/kt580-utility.desktop"
for size in 16 22 24 32 48 64 128 256; do
    expect "usr/share/icons/hicolor/${size}x${size}/apps/kt580-utility.png"
done
depends=$(dpkg-deb --field "$deb" Depends)
for lib in libqt6widgets6 libqt6gui6 libqt6core6 libqt6charts6; do
    if ! grep -q "$lib" <<<"$depends"; then
        echo "missing dependency: $lib" >&2
        missing=1
    fi
done
[ "$missing" -eq 0 ] && echo "Package contents and dependencies are complete."
exit "$missing"
