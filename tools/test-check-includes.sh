#!/usr/bin/env bash
# Self-test of check-includes.sh on small made-up source trees.
set -euo pipefail
check="$(cd "$(dirname "$0")" && pwd)/check-includes.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0

# tree NAME FILE=LINE[;LINE...]...: a src/ tree whose files hold the given lines.
tree() {
  local dir="$work/$1"; shift
  mkdir -p "$dir/src"
  local spec file
  for spec in "$@"; do
    file=${spec%%=*}
    mkdir -p "$dir/src/$(dirname "$file")"
    printf '%s\n' "#pragma once" >"$dir/src/$file"
    [ "$spec" = "$file" ] || tr ';' '\n' <<<"${spec#*=}" >>"$dir/src/$file"
  done
}
# expect NAME STATUS [PATTERN...]: the check exits with STATUS and prints every PATTERN.
expect() {
  local name=$1 status=$2; shift 2
  local out rc=0 ok=1 p
  out=$(bash "$check" "$work/$name" 2>&1) || rc=$?
  [ "$rc" = "$status" ] || ok=0
  for p in "$@"; do grep -qE -- "$p" <<<"$out" || ok=0; done
  if [ $ok = 1 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAILED %s: exit %s (wanted %s), output:\n%s\n' "$name" "$rc" "$status" "$out"
  fi
}

# The shared model files every tree has; they include only each other.
model=('model/NodeTable.h=#include <string>' 'model/NodeTable.cpp=#include "model/NodeTable.h"'
       'model/MixEnvelope.h=#include "NodeTable.h"' 'model/Options.h' 'model/Platform.h'
       'model/MediaPlayer.h' 'model/CocktailTable.h')

# Every layer used as it should be: form -> Core -> subsystem -> model, an adapter under
# platform/qt/ that includes a form without Qt headers of its own, a relative include.
tree clean "${model[@]}" \
  'app/Core.h=#include "library/Deck.h";#include "playback/MediaPlayer.h"' \
  'app/Core.cpp=#include "app/Core.h";#include <ctime>' \
  'library/Deck.h=#include "Playlist.h";#include "model/NodeTable.h";#include "Version.h"' \
  'library/Deck.cpp=#include "library/Deck.h"' \
  'library/Playlist.h=#include "../model/MixEnvelope.h"' \
  'app/MainWindow.h=#include <QWidget>;#include "app/Core.h"' \
  'app/MainWindow.cpp=#include "app/MainWindow.h"' \
  'platform/qt/Shell.cpp=#include "app/MainWindow.h";#include "model/Platform.h"'
expect clean 0 'ok \(15 files\)'

# A cycle through two classes, closed from a .cpp file: X.h and X.cpp are one node.
tree cycle "${model[@]}" \
  'library/A.h=#include "library/B.h"' \
  'library/B.h' \
  'library/B.cpp=#include "library/B.h";#include <vector>;#include "library/A.h"' \
  'library/C.h=#include "library/C.h"'
expect cycle 1 '^src/library/B\.cpp:4: include cycle: src/library/A -> src/library/B -> src/library/A \(via src/library/A\.h:2, src/library/B\.cpp:4\)$' \
  'check-includes: 1 problem'

# A longer cycle among the shared model itself.
tree modelcycle "${model[@]/#model\/Options.h/model/Options.h=#include \"model/Platform.h\"}" \
  'model/Platform.h=#include "model/MediaPlayer.h"' \
  'model/MediaPlayer.h=#include "model/Options.h"'
expect modelcycle 1 'include cycle: src/model/MediaPlayer -> src/model/Options -> src/model/Platform -> src/model/MediaPlayer'

# Includes that point up: a subsystem file and Core.cpp include a form (directly Qt or under
# platform/qt/), a subsystem header includes Core.h, a subsystem outside app/ includes app/'s
# playlist, the shared model includes a subsystem class.
tree upward "${model[@]}" \
  'app/Core.h=#include "library/Deck.h"' \
  'app/Core.cpp=#include "app/Core.h";#include "settings/Setting.h"' \
  'library/Deck.h=#include "app/Core.h"' \
  'library/Scan.cpp=#include "settings/Setting.h"' \
  'library/Wait.cpp=#include "platform/qt/Timer.h"' \
  'platform/qt/Timer.h' \
  'settings/Setting.h=#include <QDialog>' \
  'app/Playlist.h' \
  'playback/Decks.h=#include "app/Playlist.h"' \
  'model/CocktailTable.h=#include "library/Deck.h"'
expect upward 1 \
  '^src/app/Core\.cpp:3: includes "settings/Setting\.h", a form file, from a Core file' \
  '^src/library/Deck\.h:2: includes "app/Core\.h" from a subsystem file' \
  '^src/library/Scan\.cpp:2: includes "settings/Setting\.h", a form file, from a subsystem file' \
  '^src/library/Wait\.cpp:2: includes "platform/qt/Timer\.h", a form file' \
  '^src/playback/Decks\.h:2: includes "app/Playlist\.h" from a subsystem file outside app/' \
  '^src/model/CocktailTable\.h:2: includes "library/Deck\.h", a subsystem file, from the shared model' \
  'include cycle: src/app/Core -> src/library/Deck -> src/app/Core' \
  'check-includes: 7 problem'

# A settings form includes the core, which a form elsewhere may: the settings reach the program
# through the model. A form of another folder including it stays clean.
tree settingsup "${model[@]}" \
  'app/Core.h=#include "model/Options.h"' \
  'app/MainWindow.h=#include <QWidget>;#include "app/Core.h"' \
  'settings/Brows.h=#include <QDialog>;#include "app/Core.h"' \
  'settings/Brows.cpp=#include "settings/Brows.h";#include "app/MainWindow.h"'
expect settingsup 1 \
  '^src/settings/Brows\.h:3: includes "app/Core\.h" from the settings' \
  '^src/settings/Brows\.cpp:3: includes "app/MainWindow\.h" from the settings' \
  'check-includes: 2 problem'

# A folder without src/ is a usage error, not a pass.
mkdir -p "$work/empty"
expect empty 2 'no src/'

echo "check-includes self-test: $passed passed, $failed failed"
[ "$failed" = 0 ]
