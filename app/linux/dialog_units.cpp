#include "app/linux/dialog_units.h"

#include <QFontMetrics>
#include <QString>

namespace {

// MulDiv: a * b / c rounded to the nearest integer, halves away from zero.
int MulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

} // namespace

DialogBaseUnits DialogBaseUnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    DialogBaseUnits base;
    base.x = (letters / 26 + 1) / 2;
    base.y = metrics.ascent() + metrics.descent();
    return base;
}

QRect DialogUnitsToPixels(int x, int y, int width, int height, DialogBaseUnits base) {
    return QRect(MulDiv(x, base.x, 4), MulDiv(y, base.y, 8), MulDiv(width, base.x, 4),
                 MulDiv(height, base.y, 8));
}

QFont DialogFont(const char16_t* family, int pointSize, int weight, bool italic) {
    QFont font(family != nullptr ? QString::fromUtf16(family) : QString());
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(pointSize > 0 ? pointSize : 8);
    // Weight 0 is "don't care" in a template: the regular face.
    if (weight > 0) {
        font.setWeight(
            static_cast<QFont::Weight>(weight < 100 ? 100 : (weight > 900 ? 900 : weight)));
    }
    font.setItalic(italic);
    return font;
}

WindowDecoration DecorationOf(const QRect& frame, const QRect& client) {
    WindowDecoration decoration;
    decoration.frameWidth = client.left() - frame.left();
    decoration.captionHeight = client.top() - frame.top() - decoration.frameWidth;
    if (decoration.captionHeight < 0) {
        decoration.captionHeight = 0;
    }
    return decoration;
}
