// Build tool: writes every image of the program's .ico as a PNG into an icon
// theme tree (<dir>/<N>x<N>/apps/<name>.png), for the desktop entry.
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QImageReader>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s icon.ico theme-dir name\n", argv[0]);
        return 2;
    }
    QImageReader reader(QString::fromLocal8Bit(argv[1]));
    const QString themeDir = QString::fromLocal8Bit(argv[2]);
    const QString name = QString::fromLocal8Bit(argv[3]);
    int written = 0;
    for (int i = 0; i < reader.imageCount(); ++i) {
        if (!reader.jumpToImage(i)) {
            break;
        }
        const QImage image = reader.read();
        if (image.isNull() || image.width() != image.height()) {
            continue;
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(themeDir).arg(image.width());
        if (!QDir().mkpath(dir) ||
            !image.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"))) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(dir));
            return 1;
        }
        ++written;
    }
    if (written == 0) {
        std::fprintf(stderr, "no image read from %s\n", argv[1]);
        return 1;
    }
    return 0;
}
