# Sourced by the scripts that run Windows programs, with the build whose
# programs run: win32 (the default) or win64. Each has a Wine prefix of its
# own, quiet, without the .NET and HTML installers' prompts. $kx_wine is the
# loader and $kx_wineserver the server for that build: Debian's `wine` takes
# the 32-bit loader whenever it is installed, even where it cannot run, so
# the 64-bit build names its own.
kx_wine_build=${1:-win32}
kx_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
case "$kx_wine_build" in
  win32)
    export WINEPREFIX=$kx_root/build/wine-prefix
    kx_wine=wine
    kx_wineserver=wineserver
    ;;
  win64)
    export WINEPREFIX=$kx_root/build/wine64-prefix
    kx_wine=/usr/lib/wine/wine64
    kx_wineserver=/usr/lib/wine/wineserver64
    # Programs that start programs use the same loader.
    export WINELOADER=$kx_wine WINESERVER=$kx_wineserver
    ;;
  *) echo "wine-env.sh: unknown Windows build '$kx_wine_build' (win32, win64)" >&2; return 2 ;;
esac
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
