// The part editor's picture of a file: its waveform, the part shaded, and the play position as
// a line. The part's edges can be dragged with the mouse; the view reports where they were
// dropped and the editor decides what the part becomes.
#pragma once

#include <QWidget>
#include <cstdint>
#include <optional>

#include "sources/peak_scan.h"

namespace tolvane::wizard {

class QtWaveformView : public QWidget {
    Q_OBJECT
public:
    explicit QtWaveformView(QWidget* parent = nullptr);

    // The time axis: the file's duration.
    void setDurationMs(std::int64_t ms);
    void setWaveform(pages::Waveform waveform);
    bool hasWaveform() const { return !waveform_.columns.empty(); }
    // The part in whole seconds, [startSecond, endSecond).
    void setPart(int startSecond, int endSecond);
    // The play line; none hides it.
    void setPlayPosition(std::optional<std::int64_t> ms);

    // x of a moment inside the drawing, and the moment at an x.
    int xOf(std::int64_t ms) const;
    std::int64_t msAt(int x) const;

    QSize sizeHint() const override { return {560, 140}; }

signals:
    void startDragged(std::int64_t ms);
    void endDragged(std::int64_t ms);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    enum class Edge { None, Start, End };
    Edge edgeNear(int x) const;
    void drawWaveform(QPainter& painter, const QRect& area) const;

    pages::Waveform waveform_;
    std::int64_t durationMs_ = 1000;
    int startSecond_ = 0;
    int endSecond_ = 0;
    std::optional<std::int64_t> playMs_;
    Edge dragging_ = Edge::None;
};

}  // namespace tolvane::wizard
