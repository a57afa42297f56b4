# shellcheck shell=bash
# Shared by scripts/mac-test, scripts/package-macos, scripts/mac-acceptance and the release
# scripts (sourced, not run): the version, where releases are published, the bundle's layout,
# signing, and printing each command before it runs.

QUENRA_APP_NAME="Quenra Bridge.app"

# The project's GitHub repository (owner/name), named here alone: the release workflow publishes
# each release's assets there (scripts/release-step), and the cask that scripts/package-macos
# fills in downloads the zip from there. Homebrew finds the project's tap by the same name
# (owner/name stands for the repository owner/homebrew-name).
QUENRA_REPOSITORY="ostrell/quenra-bridge"

# The version of both programs and the bundle: CMake's project version (scripts/check-versions
# keeps the host's Identity and the extension package in step with it).
quenra_version() {
    sed -n 's/^project(QuenraBridge VERSION \([0-9][0-9.]*\) .*/\1/p' "$1/CMakeLists.txt"
}

# The package's file name without ".zip", for a version (the cask passes Ruby's #{version}).
quenra_package_name() {
    printf 'QuenraBridge-%s-arm64\n' "$1"
}

# Where the cask downloads the zip: the asset of the release tagged v<version>, in the cask's own
# Ruby spelling, so that one cask line serves every version.
quenra_cask_url() {
    printf 'https://github.com/%s/releases/download/v#{version}/%s.zip\n' "$QUENRA_REPOSITORY" \
        "$(quenra_package_name '#{version}')"
}

# The files of the installed bundle, relative to the folder that holds it, one a line: the two
# programs and the licence in Resources, plus its Info.plist when the word "plist" is given (the
# Apple build writes it) and the signature's resource seal when "signed" is.
quenra_bundle_files() {
    local app="$QUENRA_APP_NAME/Contents" word plist=0 signed=0
    for word in "$@"; do
        case "$word" in
        plist) plist=1 ;;
        signed) signed=1 ;;
        esac
    done
    if ((plist)); then
        printf '%s\n' "$app/Info.plist"
    fi
    printf '%s\n' "$app/MacOS/quenra-bridge-setup" "$app/MacOS/quenra-native-host" "$app/Resources/LICENSE"
    if ((signed)); then
        printf '%s\n' "$app/_CodeSignature/CodeResources"
    fi
}

# Prints a command as it would be typed, then runs it unless QUENRA_DRY_RUN is 1.
quenra_run() {
    local quoted
    quoted="$(printf '%q ' "$@")"
    echo "+ ${quoted% }"
    if [[ "${QUENRA_DRY_RUN:-0}" != 1 ]]; then
        "$@"
    fi
}

# Signs the bundle: its helper, its main program, then the bundle itself. IDENTITY "-" signs ad
# hoc; any other identity (a Developer ID Application certificate) adds the hardened runtime and
# a secure timestamp, which notarization requires. Extended attributes are cleared first, since
# codesign refuses a bundle that carries any.
quenra_sign_bundle() {
    local app="$1" identity="$2"
    local options=(--force --sign "$identity")
    if [[ "$identity" != - ]]; then
        options+=(--options runtime --timestamp)
    fi
    quenra_run xattr -cr "$app"
    quenra_run codesign "${options[@]}" "$app/Contents/MacOS/quenra-native-host"
    quenra_run codesign "${options[@]}" "$app/Contents/MacOS/quenra-bridge-setup"
    quenra_run codesign "${options[@]}" "$app"
    quenra_run codesign --verify --deep --strict --verbose=2 "$app"
}

# SHA-256 of a file, as 64 lowercase hex digits.
quenra_sha256() {
    if command -v sha256sum >/dev/null; then
        sha256sum "$1" | cut -d' ' -f1
    else
        shasum -a 256 "$1" | cut -d' ' -f1
    fi
}
