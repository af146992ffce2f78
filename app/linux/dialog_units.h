// Dialog units to pixels, by the rule the Windows dialog manager applies, so
// that the dialog keeps the proportions of its template on Linux.
#pragma once
#include <QFont>
#include <QRect>

struct DialogBaseUnits {
    int x; // average character width of the dialog font, in pixels
    int y; // character height of the dialog font, in pixels
};

// Horizontal unit: the width of the 52 Latin letters, averaged and rounded as
// Windows does; vertical unit: the font's ascent plus descent.
DialogBaseUnits DialogBaseUnitsOf(const QFont& font);
// A template rectangle (x, y, width, height in dialog units) in pixels; each
// number is scaled on its own, rounded to the nearest pixel.
QRect DialogUnitsToPixels(int x, int y, int width, int height, DialogBaseUnits base);
// The font a template names, at its point size. Fonts that Linux lacks fall back
// to the system's sans-serif face.
QFont DialogFont(const char16_t* family, int pointSize, int weight, bool italic);

// What the window manager adds around the client area, in the two numbers the
// logo placement takes: the side frame's width and the caption's height alone
// (the top decoration less the frame), as the Windows metrics give them.
struct WindowDecoration {
    int frameWidth;
    int captionHeight;
};
WindowDecoration DecorationOf(const QRect& frame, const QRect& client);
