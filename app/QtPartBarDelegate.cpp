#include "app/QtPartBarDelegate.h"

#include <QAbstractItemView>
#include <QBitmap>
#include <QPainter>
#include <algorithm>
#include <array>

#include "app/QtUi.h"
#include "pipeline/job.h"
#include "sources/file_adding.h"
#include "sources/part_marker.h"

namespace tolvane::wizard {

namespace {

// The bar's seven lines, top to bottom: dark, middle, light, light, light, middle, dark.
const std::array<QColor, 7> kRedLines{QColor(169, 0, 0),   QColor(217, 0, 0),   QColor(237, 58, 58),
                                      QColor(237, 58, 58), QColor(237, 58, 58), QColor(217, 0, 0),
                                      QColor(169, 0, 0)};
const std::array<QColor, 7> kBlueLines{
    QColor(7, 59, 253),    QColor(60, 101, 252), QColor(102, 132, 242), QColor(102, 132, 242),
    QColor(102, 132, 242), QColor(60, 101, 252), QColor(7, 59, 253)};
constexpr int kBarHeight = 12;

void drawLines(QPainter* painter, const std::array<QColor, 7>& colors, int from, int to,
               int firstLine) {
    if (to <= from)
        return;
    for (int i = 0; i < 7; ++i) {
        painter->setPen(colors[i]);
        painter->drawLine(from, firstLine + i, to - 1, firstLine + i);
    }
}

// The position picture with its yellow background keyed out.
const QPixmap& positionPicture() {
    static const QPixmap pixmap = [] {
        QPixmap p = picture("position");
        p.setMask(p.createMaskFromColor(QColor(255, 255, 0)));
        return p;
    }();
    return pixmap;
}

}  // namespace

void QtPartBarDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    painter->save();
    const QRect cell = option.rect;
    const bool selected = option.state & QStyle::State_Selected;
    const auto* view = qobject_cast<const QAbstractItemView*>(option.widget);
    const bool focused = view && view->hasFocus();
    QColor fill = option.palette.color(QPalette::Base);
    if (selected)
        fill = focused ? option.palette.color(QPalette::Highlight)
                       : option.palette.color(QPalette::Button);
    painter->fillRect(cell, fill);

    const FileEntry* entry = fileList().find(index.data(kEntryIdRole).toInt());
    if (entry) {
        // The bar sits in the middle of the row.
        const int top = cell.top() + (cell.height() - kBarHeight) / 2 - 1;
        const int right = cell.left() + cell.width();
        painter->setPen(Qt::black);
        painter->setBrush(Qt::white);
        // The frame's outline runs from left + 5 to right - 5 and from top + 2 to top + 10.
        painter->drawRect(QRect(cell.left() + 5, top + 2, right - cell.left() - 10, 8));
        const bool playing = marker_ && marker_->isPlaying(entry->id);
        const int position = playing ? marker_->position() : 0;
        const int length = playing ? marker_->length() : 0;
        const bool waitingForStart =
            marker_ && marker_->state() == pages::PartMarker::WaitingForStart;
        const pages::PartBarLayout bar = pages::partBarLayout(
            cell.left(), right, *entry, playing ? position + 1 : -1, waitingForStart);
        const int firstLine = top + 3;
        if (!entry->partMarked) {
            drawLines(painter, kRedLines, bar.innerLeft, bar.innerRight, firstLine);
        } else {
            drawLines(painter, kBlueLines, bar.innerLeft, bar.innerRight, firstLine);
            drawLines(painter, kRedLines, bar.redFrom, bar.redTo, firstLine);
        }
        if (playing && length > 0) {
            // The picture follows the moment being heard, between whole seconds too.
            const std::int64_t heardMs =
                std::clamp<std::int64_t>(marker_->positionMs(), 0, std::int64_t(length) * 1000);
            const std::int64_t offset = static_cast<std::int64_t>(bar.innerRight - bar.innerLeft) *
                                        heardMs / (std::int64_t(length) * 1000);
            painter->drawPixmap(bar.innerLeft + static_cast<int>(offset) - 4, firstLine - 3,
                                positionPicture());
        }
    }
    painter->restore();
}

}  // namespace tolvane::wizard
