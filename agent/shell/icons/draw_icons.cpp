// Draws the agent's icons as 32 x 32 PNG files into the folder given:
//   agent_draw_icons FOLDER
// The PNG files beside this source were made with it; run it again after a
// change here and commit the pictures.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <cstdio>

namespace {

constexpr int kSize = 32;

// A rounded blue tile with a white down arrow: the agent itself.
void drawProgram(QPainter& p) {
    p.setBrush(QColor(0, 84, 166));
    p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
    QPainterPath arrow;
    arrow.moveTo(12, 5);
    arrow.lineTo(20, 5);
    arrow.lineTo(20, 15);
    arrow.lineTo(26, 15);
    arrow.lineTo(16, 26);
    arrow.lineTo(6, 15);
    arrow.lineTo(12, 15);
    arrow.closeSubpath();
    p.setBrush(Qt::white);
    p.drawPath(arrow);
}

// A disc in the state's colour with a mark drawn in white.
void drawDisc(QPainter& p, QColor colour) {
    p.setBrush(colour);
    p.drawEllipse(QRectF(2, 2, 28, 28));
    p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
}

void drawGeneral(QPainter& p) {
    drawDisc(p, QColor(0, 110, 190));
    p.drawLine(QPointF(16, 8), QPointF(16, 20));
    p.drawLine(QPointF(10, 15), QPointF(16, 21));
    p.drawLine(QPointF(22, 15), QPointF(16, 21));
    p.drawLine(QPointF(10, 25), QPointF(22, 25));
}

void drawAutomatic(QPainter& p) {
    drawDisc(p, QColor(30, 140, 60));
    p.drawEllipse(QRectF(7, 7, 18, 18));
    p.drawLine(QPointF(16, 16), QPointF(16, 10));
    p.drawLine(QPointF(16, 16), QPointF(20, 18));
}

void drawRunning(QPainter& p) {
    drawDisc(p, QColor(230, 140, 0));
    p.drawArc(QRectF(8, 8, 16, 16), 30 * 16, 270 * 16);
    const double a = 30.0 * 3.14159265 / 180.0;
    const QPointF tip(16 + 8 * std::cos(a), 16 - 8 * std::sin(a));
    p.drawLine(tip, tip + QPointF(-5, -1));
    p.drawLine(tip, tip + QPointF(1, -5));
}

void drawStopped(QPainter& p) {
    drawDisc(p, QColor(200, 30, 30));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(11, 11, 10, 10));
}

bool save(const QString& folder, const char* name, void (*draw)(QPainter&)) {
    QImage image(kSize, kSize, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    draw(painter);
    painter.end();
    return image.save(QDir(folder).filePath(QString::fromLatin1(name)), "PNG");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    QGuiApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const bool ok = save(folder, "program.png", drawProgram) &&
                    save(folder, "general.png", drawGeneral) &&
                    save(folder, "automatic.png", drawAutomatic) &&
                    save(folder, "running.png", drawRunning) &&
                    save(folder, "stopped.png", drawStopped);
    return ok ? 0 : 1;
}
