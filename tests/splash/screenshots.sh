#!/bin/sh
# Screenshots of the splash and of the error dialog, taken from the tests' Xvfb screen and checked by
# their pixels: the splash picture's colours at its centred place, the dialog's place and size.
#   screenshots.sh SESSION SCENE_EXE OUTDIR   writes OUTDIR/splash.png and OUTDIR/error-dialog.png
set -eu
session=${1:?session folder}
scene=${2:?splash_scene.exe}
out=${3:?output folder}
run=$(dirname "$0")/../wine/wine-run.sh
convert=/usr/bin/convert
. "$session/env.sh"
mkdir -p "$out"
failures=0

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }

# Shows a scene, waits until it is up, takes the screenshot (again, for up to 3 s, until the optional
# check of the picture passes: a window may be up a moment before all of it is painted), lets the
# scene end.
shoot() { # scene png [check]
    ready=$out/$1.ready
    close=$out/$1.close
    rm -f "$ready" "$close"
    "$run" "$session" "$scene" "$1" "$(windows_path "$ready")" "$(windows_path "$close")" &
    pid=$!
    tries=200
    while [ ! -s "$ready" ]; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] && kill -0 "$pid" 2>/dev/null || { fail "$1 did not come up"; kill "$pid" 2>/dev/null; return 1; }
        sleep 0.1
    done
    import -display "$DISPLAY" -window root "$2"
    tries=30
    while [ -n "${3:-}" ] && ! "$3" "$2" && [ "$tries" -gt 0 ]; do
        tries=$((tries - 1))
        sleep 0.1
        import -display "$DISPLAY" -window root "$2"
    done
    touch "$close"
    wait "$pid" || fail "$1 scene ended with $?"
}

pixel() { # png x y -> r,g,b
    "$convert" "$1" -format "%[fx:int(255*p{$2,$3}.r)],%[fx:int(255*p{$2,$3}.g)],%[fx:int(255*p{$2,$3}.b)]" info:
}
expect_pixel() { # png x y r,g,b what
    got=$(pixel "$1" "$2" "$3")
    [ "$got" = "$4" ] || fail "$5: pixel $2,$3 is $got, expected $4"
}
# The bounding box of what differs from the screen's empty background: WxH+X+Y.
content_box() { "$convert" "$1" -format '%@' info:; }

# The splash: the shipped 400 x 100 picture (resources/make_resources.py) centred on 1024 x 768.
if shoot splash "$out/splash-screen.png"; then
    shot=$out/splash-screen.png
    box=$(content_box "$shot")
    [ "$box" = "400x100+312+334" ] || fail "splash: the picture covers $box, expected 400x100+312+334"
    expect_pixel "$shot" 312 334 18,58,92 "splash top-left, deep blue"
    expect_pixel "$shot" 711 334 18,58,92 "splash top-right, deep blue"
    expect_pixel "$shot" 312 433 11,122,117 "splash bottom-left, teal"
    expect_pixel "$shot" 389 398 242,169,0 "splash accent band, left end"
    expect_pixel "$shot" 634 403 242,169,0 "splash accent band, right end"
    expect_pixel "$shot" 391 370 255,255,255 "splash letter K"
    "$convert" "$shot" -crop 448x148+288+310 +repage "$out/splash.png"
fi

# Dark pixels of the details box's text in the upper left part of the box (7,55 dialog units in).
details_dark() { # png
    read -r left top right bottom width height <"$out/dialog.ready"
    "$convert" "$1" -crop 200x40+$((left + 16))+$((top + height / 3 + 10)) +repage -colorspace gray \
        -threshold 50% -negate -format '%[fx:int(mean*w*h)]' info:
}
details_painted() { [ "$(details_dark "$1")" -gt 100 ]; }

# The error dialog with a Java program's last output as its details.
if shoot dialog "$out/dialog-screen.png" details_painted; then
    shot=$out/dialog-screen.png
    read -r left top right bottom width height <"$out/dialog.ready"
    echo "dialog at $left,$top-$right,$bottom; its template asks for $width x $height"
    [ $((right - left)) -eq "$width" ] && [ $((bottom - top)) -eq "$height" ] ||
        fail "dialog: the window is $((right - left)) x $((bottom - top)), its template asks for $width x $height"
    [ "$left" -eq $(((1024 - width) / 2)) ] && [ "$top" -eq $(((768 - height) / 2)) ] ||
        fail "dialog: not centred ($left,$top for $width x $height)"
    box=$(content_box "$shot")
    [ "$box" = "${width}x${height}+${left}+${top}" ] ||
        fail "dialog: the screen shows $box, expected ${width}x${height}+${left}+${top}"
    dark=$(details_dark "$shot")
    [ "$dark" -gt 100 ] || fail "dialog: no text in the details box ($dark dark pixels)"
    "$convert" "$shot" -crop $((width + 48))x$((height + 48))+$((left - 24))+$((top - 24)) +repage "$out/error-dialog.png"
fi

[ "$failures" -eq 0 ] || exit 1
echo "screenshots checked: $out/splash.png $out/error-dialog.png"
