// Paints the wizard's pictures into PNG files at build time: the watermark of the exterior pages,
// the header picture, the program icon, the button pictures, the two 16-frame progress
// sequences, the 12-frame indicator and the position marker. All share one palette and one
// drawing style (flat shapes, soft gradient, one accent colour).
//
// Usage: tolvane-paint-pictures OUTDIR
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>
#include <cstdio>
#include <functional>

namespace {

const QColor kDeep(24, 64, 128);       // deep blue
const QColor kSky(64, 140, 214);       // light blue
const QColor kTeal(38, 157, 143);      // teal
const QColor kAccent(244, 162, 97);    // warm accent
const QColor kInk(32, 40, 56);         // outlines
const QColor kScreen(214, 236, 250);   // phone screen

QString outDir;
bool failed = false;

void save(const QImage& image, const QString& name) {
    QString path = outDir + "/" + name + ".png";
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        failed = true;
    }
}

QImage canvas(int width, int height, QColor fill = Qt::transparent) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(fill);
    return image;
}

void paint(QImage& image, const std::function<void(QPainter&)>& draw) {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
}

// A candy-bar phone filling `r`: body, screen, keypad dots.
void drawPhone(QPainter& p, const QRectF& r) {
    const qreal w = r.width();
    QLinearGradient body(r.topLeft(), r.topRight());
    body.setColorAt(0, kDeep.lighter(125));
    body.setColorAt(1, kDeep);
    p.setPen(QPen(kInk, qMax<qreal>(1.0, w / 24)));
    p.setBrush(body);
    p.drawRoundedRect(r, w * 0.18, w * 0.18);
    QRectF screen(r.left() + w * 0.14, r.top() + r.height() * 0.12, w * 0.72, r.height() * 0.38);
    p.setPen(Qt::NoPen);
    p.setBrush(kScreen);
    p.drawRoundedRect(screen, w * 0.06, w * 0.06);
    p.setBrush(kScreen.darker(110));
    const qreal dot = w * 0.11;
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col)
            p.drawEllipse(QPointF(r.left() + w * (0.27 + col * 0.23),
                                  r.top() + r.height() * (0.62 + row * 0.11)),
                          dot / 2, dot / 2);
}

// A pair of beamed eighth notes with its lower-left note head at `at`, `size` high.
void drawNotes(QPainter& p, QPointF at, qreal size, QColor color) {
    const qreal head = size * 0.22;
    const qreal gap = size * 0.55;
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    for (int i = 0; i < 2; ++i) {
        QPointF c = at + QPointF(i * gap, -i * size * 0.12);
        p.save();
        p.translate(c);
        p.rotate(-20);
        p.drawEllipse(QPointF(0, 0), head, head * 0.75);
        p.restore();
        p.drawRect(QRectF(c.x() + head * 0.7, c.y() - size * 0.85, size * 0.08, size * 0.85));
    }
    QPainterPath beam;
    QPointF a = at + QPointF(head * 0.7, -size * 0.85);
    QPointF b = at + QPointF(gap + head * 0.7 + size * 0.08, -size * 0.97);
    beam.moveTo(a);
    beam.lineTo(b);
    beam.lineTo(b + QPointF(0, size * 0.18));
    beam.lineTo(a + QPointF(0, size * 0.18));
    beam.closeSubpath();
    p.drawPath(beam);
}

// Sound waves (arcs) to the right of `at`.
void drawWaves(QPainter& p, QPointF at, qreal size, int count, QColor color, qreal width) {
    p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    for (int i = 1; i <= count; ++i) {
        qreal radius = size * i / count;
        p.drawArc(QRectF(at.x() - radius, at.y() - radius, 2 * radius, 2 * radius), -45 * 16,
                  90 * 16);
    }
}

void watermark() {
    QImage image = canvas(164, 402);
    paint(image, [](QPainter& p) {
        QLinearGradient bg(0, 0, 0, 402);
        bg.setColorAt(0, kSky);
        bg.setColorAt(1, kDeep);
        p.fillRect(QRect(0, 0, 164, 402), bg);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 28));
        p.drawEllipse(QPointF(30, 60), 90, 90);
        p.drawEllipse(QPointF(150, 330), 70, 70);
        drawNotes(p, QPointF(34, 118), 64, QColor(255, 255, 255, 230));
        drawPhone(p, QRectF(50, 170, 64, 128));
        drawWaves(p, QPointF(114, 200), 36, 3, kAccent, 4);
    });
    save(image, "watermark");
}

void header() {
    QImage image = canvas(49, 49);
    paint(image, [](QPainter& p) {
        drawPhone(p, QRectF(14, 4, 22, 41));
        drawNotes(p, QPointF(3, 18), 14, kTeal);
        drawWaves(p, QPointF(36, 14), 10, 2, kAccent, 2);
    });
    save(image, "header");
}

void icon() {
    QImage image = canvas(256, 256);
    paint(image, [](QPainter& p) {
        QLinearGradient bg(0, 0, 0, 256);
        bg.setColorAt(0, kSky);
        bg.setColorAt(1, kDeep);
        p.setPen(Qt::NoPen);
        p.setBrush(bg);
        p.drawRoundedRect(QRectF(8, 8, 240, 240), 48, 48);
        drawPhone(p, QRectF(96, 40, 76, 176));
        drawNotes(p, QPointF(36, 128), 70, Qt::white);
        drawWaves(p, QPointF(172, 90), 44, 3, kAccent, 8);
    });
    save(image, "tolvane");
}

// Format page: a large phone with notes on its screen.
void formatPicture() {
    QImage image = canvas(96, 150);
    paint(image, [](QPainter& p) {
        drawPhone(p, QRectF(14, 6, 68, 138));
        drawNotes(p, QPointF(30, 50), 22, kDeep);
    });
    save(image, "format");
}

// Target page: a folder (store) and a phone with waves (send).
void targetPictures() {
    QImage store = canvas(40, 40);
    paint(store, [](QPainter& p) {
        p.setPen(QPen(kInk, 1.5));
        p.setBrush(kAccent);
        QPainterPath folder;
        folder.moveTo(3, 9);
        folder.lineTo(15, 9);
        folder.lineTo(18, 13);
        folder.lineTo(37, 13);
        folder.lineTo(37, 34);
        folder.lineTo(3, 34);
        folder.closeSubpath();
        p.drawPath(folder);
        drawNotes(p, QPointF(12, 30), 13, kDeep);
    });
    save(store, "store");
    QImage send = canvas(40, 40);
    paint(send, [](QPainter& p) {
        drawPhone(p, QRectF(9, 3, 18, 34));
        drawWaves(p, QPointF(27, 12), 10, 2, kTeal, 2.5);
    });
    save(send, "send");
}

// Uploads page: a phone whose screen shows a download arrow.
void uploadsPicture() {
    QImage image = canvas(64, 64);
    paint(image, [](QPainter& p) {
        drawPhone(p, QRectF(20, 2, 30, 60));
        p.setPen(QPen(kTeal, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawLine(QPointF(35, 10), QPointF(35, 24));
        p.drawPolyline(QPolygonF({QPointF(30, 19), QPointF(35, 24), QPointF(40, 19)}));
        drawWaves(p, QPointF(50, 14), 12, 2, kAccent, 2.5);
    });
    save(image, "uploads");
}

// Files page buttons: add, remove, select all, and the marker's three states.
void buttonPictures() {
    auto button = [](const QString& name, const std::function<void(QPainter&)>& draw) {
        QImage image = canvas(20, 20);
        paint(image, draw);
        save(image, name);
    };
    button("add", [](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(kTeal);
        p.drawRoundedRect(QRectF(8, 2, 4, 16), 1, 1);
        p.drawRoundedRect(QRectF(2, 8, 16, 4), 1, 1);
    });
    button("remove", [](QPainter& p) {
        p.setPen(QPen(QColor(205, 40, 40), 3.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(4, 4), QPointF(16, 16));
        p.drawLine(QPointF(16, 4), QPointF(4, 16));
    });
    button("selectall", [](QPainter& p) {
        p.setPen(QPen(kDeep, 1.5));
        p.setBrush(kScreen);
        for (int i = 0; i < 3; ++i)
            p.drawRect(QRectF(2.5, 2.5 + i * 5.5, 15, 4));
    });
    auto marker = [](QPainter& p, QColor color) {
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawPolygon(QPolygonF({QPointF(5, 2), QPointF(15, 2), QPointF(15, 12), QPointF(10, 18),
                                 QPointF(5, 12)}));
    };
    button("mark", [&](QPainter& p) { marker(p, QColor(217, 0, 0)); });
    button("mark_start", [&](QPainter& p) {
        marker(p, QColor(217, 0, 0));
        p.setPen(QPen(Qt::white, 2));
        p.drawLine(QPointF(8, 5), QPointF(8, 11));
    });
    button("mark_end", [&](QPainter& p) {
        marker(p, QColor(217, 0, 0));
        p.setPen(QPen(Qt::white, 2));
        p.drawLine(QPointF(12, 5), QPointF(12, 11));
    });
}

// The position picture of the part bar: a small pointer on yellow, which is its transparent
// colour, so it is kept opaque here and keyed out when loaded.
void positionPicture() {
    QImage image = canvas(9, 13, QColor(255, 255, 0));
    QPainter p(&image);
    p.setPen(kInk);
    p.setBrush(kTeal);
    p.drawPolygon(QPolygon({QPoint(0, 0), QPoint(8, 0), QPoint(8, 8), QPoint(4, 12), QPoint(0, 8)}));
    save(image, "position");
}

// Progress sequence "convert": a ring of dots turning around the notes.
// Progress sequence "send": waves leaving the phone.
void progressSequences() {
    for (int frame = 0; frame < 16; ++frame) {
        QImage convert = canvas(64, 64);
        paint(convert, [frame](QPainter& p) {
            for (int dot = 0; dot < 16; ++dot) {
                qreal angle = (dot * 22.5 - 90) * M_PI / 180;
                int age = (frame - dot + 16) % 16;
                QColor color = kSky;
                color.setAlphaF(qMax(0.12, 1.0 - age / 8.0));
                p.setPen(Qt::NoPen);
                p.setBrush(age == 0 ? kAccent : color);
                p.drawEllipse(QPointF(32 + 27 * std::cos(angle), 32 + 27 * std::sin(angle)), 3.2,
                              3.2);
            }
            drawNotes(p, QPointF(22, 41), 20, kDeep);
        });
        save(convert, QStringLiteral("progress_convert_%1").arg(frame, 2, 10, QChar('0')));

        QImage send = canvas(64, 64);
        paint(send, [frame](QPainter& p) {
            drawPhone(p, QRectF(6, 8, 24, 48));
            for (int wave = 0; wave < 3; ++wave) {
                qreal phase = std::fmod(frame / 16.0 + wave / 3.0, 1.0);
                QColor color = kTeal;
                color.setAlphaF(1.0 - phase);
                qreal radius = 6 + phase * 26;
                p.setPen(QPen(color, 3, Qt::SolidLine, Qt::RoundCap));
                p.setBrush(Qt::NoBrush);
                p.drawArc(QRectF(30 - radius, 24 - radius, 2 * radius, 2 * radius), -50 * 16,
                          100 * 16);
            }
        });
        save(send, QStringLiteral("progress_send_%1").arg(frame, 2, 10, QChar('0')));
    }
}

// The report dialog's indicator: 12 spokes, one of them bright.
void indicator() {
    for (int frame = 0; frame < 12; ++frame) {
        QImage image = canvas(24, 24);
        paint(image, [frame](QPainter& p) {
            for (int spoke = 0; spoke < 12; ++spoke) {
                int age = (frame - spoke + 12) % 12;
                QColor color = kDeep;
                color.setAlphaF(qMax(0.15, 1.0 - age / 6.0));
                p.setPen(QPen(color, 2.4, Qt::SolidLine, Qt::RoundCap));
                qreal angle = (spoke * 30 - 90) * M_PI / 180;
                p.drawLine(QPointF(12 + 5 * std::cos(angle), 12 + 5 * std::sin(angle)),
                           QPointF(12 + 10 * std::cos(angle), 12 + 10 * std::sin(angle)));
            }
        });
        save(image, QStringLiteral("indicator_%1").arg(frame, 2, 10, QChar('0')));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    outDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(outDir);
    watermark();
    header();
    icon();
    formatPicture();
    targetPictures();
    uploadsPicture();
    buttonPictures();
    positionPicture();
    progressSequences();
    indicator();
    return failed ? 1 : 0;
}
