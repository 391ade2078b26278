#!/usr/bin/env bash
# Takes the operator's guide's pictures anew, from the real program: runs the
# end-to-end road that takes them (tests/e2e/e2e.sh screenshots, under a
# window manager) in build/, and copies them into docs/images/, where the
# guide, the README and the AppStream data take them from; the picture of
# the window after a check also as window.png, with the numbers the guide's
# description of the window refers to. Run it after a change to what the
# window shows, and commit the pictures. Needs what the test command installs.
set -euo pipefail
cd "$(dirname "$0")/.."
shots=build/e2e-screenshots

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target qd740n-updater qd740n-e2e-closewindow
ctest --test-dir build --output-on-failure -R '^e2e_screenshots$'

# Without their time stamps, a picture that shows the same is the same file.
for stage in checked busy refused-close success question failure; do
    convert "$shots/screenshots-$stage.png" -strip "docs/images/$stage.png"
done

# 1 on the log, left of the buttons; 2 to 4 on the buttons, at their left end.
marks=()
mark() { # NUMBER X Y: a numbered red disc centred on X Y
    marks+=(-fill '#c00000' -stroke white -strokewidth 2 -draw "circle $2,$3 $(($2 + 11)),$3"
        -fill white -stroke none -annotate "+$(($2 - 4))+$(($3 + 5))" "$1")
}
number=2
while read -r _ x y _ height; do
    [ "$number" -gt 2 ] || mark 1 $((x - 60)) $((y + height))
    mark "$number" "$x" $((y + height / 2))
    number=$((number + 1))
done < <(sed -E 's/^(Check Versions|Update|Restore) /button /' "$shots/screenshots-checked.places")
convert "$shots/screenshots-checked.png" -font /usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf \
    -pointsize 14 "${marks[@]}" -strip docs/images/window.png
chmod 0644 docs/images/*.png
ls -l docs/images/
