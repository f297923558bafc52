// Renders the scalable application icon into the fixed-size PNGs that icon
// themes and older panels look up. Run through the `icons` build target after
// changing resources/icons/daybrook.svg; the PNGs are committed.
//   daybrook_render_icons SOURCE.svg OUTPUT-FOLDER
// writes OUTPUT-FOLDER/<N>x<N>/apps/daybrook.png for every size.
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QTextStream>

int main(int argc, char *argv[]) {
    // Shapes and gradients only: no fonts, so no window system is needed.
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3) {
        err << "usage: daybrook_render_icons SOURCE.svg OUTPUT-FOLDER" << Qt::endl;
        return 2;
    }
    QSvgRenderer renderer(args.at(1));
    if (!renderer.isValid()) {
        err << "cannot read " << args.at(1) << Qt::endl;
        return 1;
    }
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            renderer.render(&painter, QRectF(0, 0, size, size));
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(args.at(2)).arg(size);
        const QString path = dir + QStringLiteral("/daybrook.png");
        if (!QDir().mkpath(dir) || !image.convertToFormat(QImage::Format_ARGB32).save(path, "PNG")) {
            err << "cannot write " << path << Qt::endl;
            return 1;
        }
    }
    return 0;
}
