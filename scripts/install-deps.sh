#!/usr/bin/env bash
# Installs the Debian packages Tavrin needs: to build and run it, and with --tests also to test it.
# Idempotent: installs only what is missing, through sudo when not root. It never touches the
# desktop's sound server: the tests' sound server is the one the desktop already uses (PipeWire
# where pipewire-pulse or pipewire-alsa is installed, else PulseAudio), and apt-get's simulation is
# read first: nothing is installed if apt would remove any package or add a second sound server.
#
# usage: install-deps.sh [--tests] [--package] [--bench] [--dry-run | --list]
#   --tests    also what scripts/test.sh needs (the package check included)
#   --package  also what scripts/package.sh needs
#   --bench    also what the scripts under bench/ need beyond the tests
#   --dry-run  print what would be installed and removed ("install: ..." / "remove: ...") and
#              change nothing; exits 1 when the set-up would refuse
#   --list     print the packages the chosen set-up asks for, one a line, and change nothing
set -euo pipefail

# Building and running (scripts/run.sh).
run_packages=(
    build-essential        # g++ 12, make
    cmake ninja-build      # the build
    qt6-base-dev           # Qt 6 Widgets: the panel and its dialogs
    qt6-base-dev-tools     # moc, rcc
    qt6-tools-dev          # Qt6LinguistTools' CMake package: builds the English translation
    qt6-l10n-tools         # lupdate, lrelease: the .ts catalogue and its compiled .qm
    qt6-translations-l10n  # Qt's own texts in Chinese (the --help headers); optional at run time
    libgl-dev              # Qt6Gui's CMake package insists on OpenGL headers
    libasound2-dev         # ALSA: the sound card
    libfftw3-dev           # FFTW3: the analysers' transforms of any size, in double precision
    pkg-config             # finds FFTW3 (its .pc file): FFTW ships no CMake package on Debian
    qt6-charts-dev         # Qt Charts: the analysers' plots (log axes, bars, PNG export)
    libqt6opengl6-dev      # Qt6Charts' CMake package loads Qt6OpenGL and Qt6OpenGLWidgets, but
                           # Debian 12's qt6-charts-dev does not depend on the package that has them
    qt6-svg-dev            # Qt SVG: saving an analyser's plot as SVG
    nlohmann-json3-dev     # JSON: the calibration file (volts per device and channel)
    libasound2-plugins     # ALSA's "default" to PulseAudio (pipewire-alsa does it for PipeWire)
    fonts-wqy-microhei     # a CJK font for the Chinese captions
    alsa-utils             # arecord: run.sh checks that the sound device can capture
    xvfb xauth             # a virtual display for headless runs
    x11-apps               # xwd: the headless run's screenshot
    imagemagick            # converts that screenshot to PNG
)

# Testing (scripts/test.sh), on top of the above.
test_packages=(
    libgtest-dev           # unit tests
    libbenchmark-dev       # benchmarks under bench/
    xdotool                # end-to-end tests click the real panel under Xvfb
    sox                    # checks WAV files (soxi); plays the tone `tavrin measure` is tested on
    gnuplot-nox            # docs/make_measure_plot.sh: the manual's plot from a CSV log
    python3                # the WAV checker uses Python's wave module; the e2e runners
    appstream              # the package check: appstreamcli validates the AppStream metainfo
    desktop-file-utils     # the package check: desktop-file-validate checks the desktop entry
    man-db                 # the package check: man -l renders the manual pages, with warnings
    lintian                # the package check: Debian's own checker, no error or warning allowed
    chromium               # the report's page loaded, shot and printed by a real browser
)

# Packaging (scripts/package.sh, and the package check in the tests).
package_packages=(
    dpkg-dev               # cpack's DEB Depends comes from dpkg-shlibdeps
)

# Benchmarks and fuzzing outside the test run (bench/fuzz/run_fuzz.sh, bench/app/*.py).
bench_packages=(
    clang libfuzzer-14-dev # bench/fuzz: libFuzzer needs clang's instrumentation; g++ has none
    stress-ng              # the soak benchmark (bench/app/soak.py) keeps the other core busy
)

# The end-to-end tests' private loopback server: the kind the desktop runs, never the other.
pulse_test_packages=(
    pulseaudio             # a private daemon with a null-sink loopback
    pulseaudio-utils       # pactl: is the private daemon up
)
pipewire_test_packages=(
    pipewire pipewire-bin  # a private daemon with a null-sink loopback; pw-metadata
    wireplumber            # links the test's streams to that sink
    dbus-daemon            # dbus-run-session: a private bus for the private session
)

# A package set's sound servers: installing one beside another breaks the desktop's audio.
sound_servers=(pulseaudio pipewire-pulse pipewire-alsa)

with_tests=false
with_package=false
with_bench=false
dry_run=false
list_only=false
for arg in "$@"; do
    case "$arg" in
    --tests) with_tests=true with_package=true ;;
    --package) with_package=true ;;
    --bench) with_bench=true with_tests=true with_package=true ;;
    --dry-run) dry_run=true ;;
    --list) list_only=true ;;
    *)
        echo "usage: $0 [--tests] [--package] [--bench] [--dry-run | --list]" >&2
        exit 2
        ;;
    esac
done

# TAVRIN_DPKG_ADMINDIR reads another dpkg database (its "status" file): the set-up's own test
# checks its choices against other desktops' package sets this way.
dpkg_opts=()
apt_opts=()
if [ -n "${TAVRIN_DPKG_ADMINDIR:-}" ]; then
    dpkg_opts=(--admindir="$TAVRIN_DPKG_ADMINDIR")
    apt_opts=(-o "Dir::State::status=$TAVRIN_DPKG_ADMINDIR/status")
fi
installed() {
    dpkg-query "${dpkg_opts[@]}" -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

packages=("${run_packages[@]}")
if $with_bench; then
    packages+=("${bench_packages[@]}")
fi
if $with_package; then
    packages+=("${package_packages[@]}")
fi
if $with_tests; then
    packages+=("${test_packages[@]}")
    if installed pipewire-pulse || installed pipewire-alsa; then
        packages+=("${pipewire_test_packages[@]}")
    else
        packages+=("${pulse_test_packages[@]}")
    fi
fi

if $list_only; then
    printf '%s\n' "${packages[@]}"
    exit 0
fi

missing=()
for p in "${packages[@]}"; do
    if ! installed "$p"; then
        missing+=("$p")
    fi
done

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi
if [ ${#missing[@]} -gt 0 ] && ! $dry_run; then
    "${sudo_cmd[@]}" apt-get update -qq
fi

to_install=()
to_remove=()
if [ ${#missing[@]} -gt 0 ]; then
    if ! plan=$(LC_ALL=C apt-get "${apt_opts[@]}" -s install --no-install-recommends \
        "${missing[@]}" 2>&1); then
        echo "apt-get cannot plan the installation of: ${missing[*]}" >&2
        echo "$plan" >&2
        exit 1
    fi
    mapfile -t to_install < <(awk '$1 == "Inst" { print $2 }' <<<"$plan")
    mapfile -t to_remove < <(awk '$1 == "Remv" { print $2 }' <<<"$plan")
fi

refusal=""
if [ ${#to_remove[@]} -gt 0 ]; then
    refusal="it would remove ${to_remove[*]}"
fi
for server in "${sound_servers[@]}"; do
    if printf '%s\n' "${to_install[@]}" | grep -qx "$server"; then
        for other in "${sound_servers[@]}"; do
            if [ "$other" != "$server" ] && installed "$other"; then
                refusal="it would add $server beside the installed $other"
            fi
        done
    fi
done

if $dry_run; then
    echo "install: ${to_install[*]}"
    echo "remove: ${to_remove[*]}"
    [ -z "$refusal" ] && exit 0
    echo "refused: $refusal" >&2
    exit 1
fi
if [ -n "$refusal" ]; then
    echo "Not installing ${missing[*]}: $refusal. Install them by hand if you mean to." >&2
    exit 1
fi
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
echo "Installing: ${missing[*]}"
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
