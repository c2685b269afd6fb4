#!/usr/bin/env bash
# Proves that a change left every ringtone as it was: builds a reference revision in a worktree of
# its own, makes one set of sources of every kind the wizard reads (WAV, MP3, Ogg Vorbis, FLAC and
# WMA made with sox and ffmpeg at run time, Monkey's Audio from ../shared/testdata when present),
# converts each of them into all seven formats with the reference build's tolvane-convert and with
# the current build's, and compares the ringtones byte for byte.
#
#   scripts/compare-ringtones.sh REVISION [CURRENT_BUILD_DIR]
#
# REVISION is any commit (e.g. `main` or the commit before a refactoring). The reference is built
# in $REF_DIR (default build-ref/, reused between runs); CURRENT_BUILD_DIR defaults to build/ and is
# built first. Exits 0 when every ringtone is identical, 1 when one differs or is missing in one
# build only. SMAF files carry their run's title, date and check bytes, which differ between two
# runs of the same build; they are compared without them. The table of results is printed; the ringtones stay in $WORK_DIR when it is given.
set -euo pipefail

if [ $# -lt 1 ]; then
  sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
fi
revision=$1
source_dir=$(cd "$(dirname "$0")/.." && pwd)
current_build=$(realpath -m "${2:-$source_dir/build}")
ref_dir=$(realpath -m "${REF_DIR:-$source_dir/build-ref}")
jobs=${JOBS:-$(nproc)}
generator=$(command -v ninja >/dev/null 2>&1 && echo "-G Ninja" || true)
programs=(tolvane-convert kessin machine_hive)
runtime_libraries=(lame_enc qscl wmvcore ffmpeg_codecs)

work=${WORK_DIR:-$(mktemp -d)}
cleanup_work() { [ -n "${WORK_DIR:-}" ] || rm -rf "$work"; }
trap cleanup_work EXIT
mkdir -p "$work"

build_tree() {  # source build
  # A build folder that exists keeps its configuration; a new one gets the programs only.
  if [ ! -f "$2/CMakeCache.txt" ]; then
    # shellcheck disable=SC2086
    cmake -S "$1" -B "$2" $generator -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVANE_TESTS=OFF \
      >/dev/null
  fi
  # Only the programs the revision has (run-time libraries come and go between revisions).
  local known=("${programs[@]}") library targets
  targets=$(cmake --build "$2" --target help 2>/dev/null)
  for library in "${runtime_libraries[@]}"; do
    grep -Eq "^$library: " <<<"$targets" && known+=("$library")
  done
  cmake --build "$2" -j "$jobs" --target "${known[@]}" >/dev/null
}

echo "Reference: $revision ($(git -C "$source_dir" rev-parse --short "$revision"))"
ref_source="$ref_dir/source"
if [ -d "$ref_source" ]; then
  git -C "$ref_source" checkout --quiet --detach "$revision"
else
  mkdir -p "$ref_dir"
  git -C "$source_dir" worktree add --quiet --detach "$ref_source" "$revision"
fi
build_tree "$ref_source" "$ref_dir/build"
echo "Current:   $source_dir ($current_build)"
build_tree "$source_dir" "$current_build"

# The sources: music-like material (chords over noise, with a beat), speech, and odd shapes.
sources="$work/sources"
mkdir -p "$sources"
music() {  # file rate channels seconds [sox output options...]
  local file=$1 rate=$2 channels=$3 seconds=$4
  shift 4
  sox -n -r "$rate" -c "$channels" -b 16 "$file" "$@" \
    synth "$seconds" sine 220 sine 277 sine 330 pinknoise \
    tremolo 3 60 remix - gain -n -3 channels "$channels"
}
music "$sources/stereo44.wav" 44100 2 9
music "$sources/mono8k.wav" 8000 1 5
sox -n -r 11025 -c 1 -b 8 "$sources/eightbit.wav" synth 4 sine 440 brownnoise remix - gain -n -6
sox -n -r 48000 -c 2 -b 16 "$sources/quiet48.wav" synth 6 pinknoise sine 660 remix - gain -30 \
  channels 2
if command -v espeak-ng >/dev/null; then
  espeak-ng -w "$sources/speech.wav" "Tolvane makes ringtones from the music on your computer."
fi
ffmpeg -loglevel error -i "$sources/stereo44.wav" -c:a libmp3lame -b:a 128k "$sources/song.mp3"
ffmpeg -loglevel error -i "$sources/stereo44.wav" -ar 32000 -ac 1 -c:a libmp3lame -b:a 64k \
  "$sources/mono32.mp3"
sox "$sources/stereo44.wav" "$sources/song.ogg"
sox "$sources/stereo44.wav" -r 22050 "$sources/song22.flac"
ffmpeg -loglevel error -i "$sources/stereo44.wav" -c:a wmav2 -b:a 128k "$sources/song.wma"
testdata="$source_dir/../shared/testdata/ape"
for ape in atl-v394.ape beets-full-mono.ape lofty-full_test-48k-id3v2.ape \
  atl-musicbee-0-8bit-mono.ape; do
  [ -f "$testdata/$ape" ] && cp "$testdata/$ape" "$sources/"
done

formats=(wav-medium wav-high mp3-medium mp3-high smaf amr qcp)

mkdir -p "$work/marked"
cp "$sources/stereo44.wav" "$work/marked/part.wav"

convert_all() {  # build output
  local build=$1 out=$2 format
  mkdir -p "$out"
  for format in "${formats[@]}"; do
    # Both builds write to the same folder, so that their run output can be compared too; a
    # private settings store keeps the user's stored choices out.
    rm -rf "$work/out" "$work/config"
    XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work" \
      "$build/bin/tolvane-convert" --reconvert -f "$format" -o "$work/out" \
      "$sources"/* --part 2+4 "$work/marked/part.wav" >"$out/$format.log" 2>&1 || true
    mkdir -p "$work/out"
    mv "$work/out" "$out/$format"
  done
}
convert_all "$ref_dir/build" "$work/reference"
convert_all "$current_build" "$work/current"

# A SMAF file names its run: the contents-info chunk holds the title (the converter's temporary
# file name), the creation date and a per-run tag, and the file's last two bytes are a check
# over all of it. Two conversions of one source by one build differ there and nowhere else, so
# SMAF files are compared without those bytes (and with their lengths).
same_smaf() {
  python3 - "$1" "$2" <<'PY'
import struct, sys
def body(path):
    data = open(path, "rb").read()
    assert data[:4] == b"MMMD" and data[8:12] == b"CNTI", path
    cnti_end = 16 + struct.unpack(">I", data[12:16])[0]
    return len(data), data[:16] + data[cnti_end:-2]
sys.exit(0 if body(sys.argv[1]) == body(sys.argv[2]) else 1)
PY
}

same_ringtone() {
  case "$1" in
    *.mmf) same_smaf "$1" "$2" ;;
    *) cmp -s "$1" "$2" ;;
  esac
}

status=0
same=0
while IFS= read -r file; do
  if [ ! -f "$work/current/$file" ]; then
    echo "MISSING in current:   $file"
    status=1
  elif same_ringtone "$work/reference/$file" "$work/current/$file"; then
    same=$((same + 1))
  else
    echo "DIFFERS:              $file"
    status=1
  fi
done < <(cd "$work/reference" && find . -type f ! -name '*.log' | sort)
while IFS= read -r file; do
  if [ ! -f "$work/reference/$file" ]; then
    echo "MISSING in reference: $file"
    status=1
  fi
done < <(cd "$work/current" && find . -type f ! -name '*.log' | sort)
for format in "${formats[@]}"; do
  if ! cmp -s "$work/reference/$format.log" "$work/current/$format.log"; then
    echo "Run output differs for $format:"
    diff "$work/reference/$format.log" "$work/current/$format.log" || true
    status=1
  fi
done
count=$(ls "$sources" | wc -l)
echo "$count sources x ${#formats[@]} formats: $same ringtones identical byte for byte" \
  "(SMAF without its run's title, date, tag and check bytes)."
[ $status -eq 0 ] && echo "RESULT: identical" || echo "RESULT: DIFFERENT"
exit $status
