#include "app/QtWaveformView.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace tolvane::wizard {

namespace {

constexpr int kMargin = 4;        // around the drawing, so that the edges at 0 and the end show
constexpr int kGrabDistance = 8;  // pixels either side of an edge that pick it up

const QColor kBackground(250, 250, 250);
const QColor kWave(60, 90, 160);
const QColor kPartShade(220, 40, 40, 60);
const QColor kPartEdge(200, 30, 30);
const QColor kPlayLine(20, 140, 20);

}  // namespace

QtWaveformView::QtWaveformView(QWidget* parent) : QWidget(parent) {
    setObjectName("waveform");
    setAccessibleName("Waveform");
    setMinimumSize(320, 100);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMouseTracking(true);
}

void QtWaveformView::setDurationMs(std::int64_t ms) {
    durationMs_ = std::max<std::int64_t>(ms, 1);
    update();
}

void QtWaveformView::setWaveform(pages::Waveform waveform) {
    waveform_ = std::move(waveform);
    update();
}

void QtWaveformView::setPart(int startSecond, int endSecond) {
    startSecond_ = startSecond;
    endSecond_ = endSecond;
    update();
}

void QtWaveformView::setPlayPosition(std::optional<std::int64_t> ms) {
    playMs_ = ms;
    update();
}

int QtWaveformView::xOf(std::int64_t ms) const {
    const int inner = std::max(width() - 2 * kMargin, 1);
    return kMargin +
           static_cast<int>(std::clamp<std::int64_t>(ms, 0, durationMs_) * inner / durationMs_);
}

std::int64_t QtWaveformView::msAt(int x) const {
    const int inner = std::max(width() - 2 * kMargin, 1);
    return std::int64_t(std::clamp(x - kMargin, 0, inner)) * durationMs_ / inner;
}

QtWaveformView::Edge QtWaveformView::edgeNear(int x) const {
    const int start = xOf(std::int64_t(startSecond_) * 1000);
    const int end = xOf(std::int64_t(endSecond_) * 1000);
    const int toStart = std::abs(x - start);
    const int toEnd = std::abs(x - end);
    if (std::min(toStart, toEnd) > kGrabDistance)
        return Edge::None;
    // Edges close together: the one on the side of the pointer.
    if (toStart == toEnd)
        return x < start ? Edge::Start : Edge::End;
    return toStart < toEnd ? Edge::Start : Edge::End;
}

void QtWaveformView::drawWaveform(QPainter& painter, const QRect& area) const {
    const auto& columns = waveform_.columns;
    if (columns.empty())
        return;
    const int mid = area.center().y();
    const double half = area.height() / 2.0;
    // The scan covers the decoded length, which may differ a little from the axis.
    const int right = xOf(waveform_.durationMs > 0 ? waveform_.durationMs : durationMs_);
    const int span = std::max(right - area.left(), 1);
    painter.setPen(kWave);
    for (int x = area.left(); x < right; ++x) {
        const std::size_t from = std::size_t(x - area.left()) * columns.size() / std::size_t(span);
        const std::size_t to = std::max(
            from + 1, std::size_t(x - area.left() + 1) * columns.size() / std::size_t(span));
        float low = 0;
        float high = 0;
        for (std::size_t i = from; i < std::min(to, columns.size()); ++i) {
            low = std::min(low, columns[i].low);
            high = std::max(high, columns[i].high);
        }
        const int top = mid - static_cast<int>(std::lround(high * half));
        const int bottom = mid - static_cast<int>(std::lround(low * half));
        painter.drawLine(x, top, x, std::max(bottom, top));
    }
}

void QtWaveformView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect area = rect().adjusted(kMargin, kMargin, -kMargin, -kMargin);
    painter.fillRect(rect(), kBackground);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    painter.drawLine(area.left(), area.center().y(), area.right(), area.center().y());
    drawWaveform(painter, area);

    const int start = xOf(std::int64_t(startSecond_) * 1000);
    const int end = xOf(std::int64_t(endSecond_) * 1000);
    painter.fillRect(QRect(QPoint(start, area.top()), QPoint(end, area.bottom())), kPartShade);
    painter.setPen(QPen(kPartEdge, 2));
    painter.drawLine(start, area.top(), start, area.bottom());
    painter.drawLine(end, area.top(), end, area.bottom());
    if (playMs_) {
        painter.setPen(QPen(kPlayLine, 2));
        const int x = xOf(*playMs_);
        painter.drawLine(x, 0, x, height());
    }
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(1, 1, -2, -2));
    }
}

void QtWaveformView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    dragging_ = edgeNear(event->position().toPoint().x());
}

void QtWaveformView::mouseMoveEvent(QMouseEvent* event) {
    const int x = event->position().toPoint().x();
    if (dragging_ == Edge::None) {
        setCursor(edgeNear(x) == Edge::None ? Qt::ArrowCursor : Qt::SizeHorCursor);
        return;
    }
    if (dragging_ == Edge::Start)
        emit startDragged(msAt(x));
    else
        emit endDragged(msAt(x));
}

void QtWaveformView::mouseReleaseEvent(QMouseEvent* event) {
    if (dragging_ != Edge::None && event->button() == Qt::LeftButton) {
        mouseMoveEvent(event);
        dragging_ = Edge::None;
    }
}

}  // namespace tolvane::wizard
