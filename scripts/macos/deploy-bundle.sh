#!/usr/bin/env bash
# Makes an installed OrluneRLM.app self-contained (run by `cmake --install`):
#
#   deploy-bundle.sh BUNDLE MACDEPLOYQT QT_LIBRARY_DIR
#
# 1. macdeployqt copies Qt's frameworks and plugins, and every other library
#    from outside the system (ICU, QtKeychain, ... from Homebrew), into
#    Contents/Frameworks and Contents/PlugIns, for the application and for the
#    two programs beside it in Contents/MacOS. Qt's frameworks are referenced
#    through @rpath, so the folder they are in is given (-libpath).
# 2. Every library search path that points outside the bundle (the build
#    machine's Homebrew and build folders) is removed, and each program
#    searches Contents/Frameworks.
# 3. The bundle is signed ad hoc (changed programs lose their signature, and
#    Apple silicon runs nothing unsigned) and checked.
set -euo pipefail

bundle="$1"
macdeployqt="$2"
qt_libraries="$3"
here="$(cd "$(dirname "$0")" && pwd)"
programs="$bundle/Contents/MacOS"

[ -d "$bundle" ] || { echo "deploy-bundle: no bundle at $bundle" >&2; exit 1; }
[ -x "$macdeployqt" ] || { echo "deploy-bundle: macdeployqt not found (${macdeployqt:-unset})" >&2; exit 1; }

"$macdeployqt" "$bundle" \
    "-executable=$programs/orlune" \
    "-executable=$programs/orlune-rlm-helper" \
    "-libpath=$qt_libraries" \
    -always-overwrite -verbose=1

# The LC_RPATH entries of a Mach-O file, one per line.
search_paths() {
    otool -l "$1" | awk '$1 == "cmd" && $2 == "LC_RPATH" { wanted = 1; next }
                         wanted && $1 == "path" { print $2; wanted = 0 }'
}

for program in "$programs"/*; do
    while IFS= read -r path; do
        case "$path" in
        @*) ;;
        *) install_name_tool -delete_rpath "$path" "$program" ;;
        esac
    done < <(search_paths "$program")
    if ! search_paths "$program" | grep -qx '@executable_path/../Frameworks'; then
        install_name_tool -add_rpath '@executable_path/../Frameworks' "$program"
    fi
done

bash "$here/sign.sh" "$bundle"
bash "$here/check-bundle.sh" "$bundle"
