// Draws column 1 of the Files page's list: a framed bar per row with the part to convert in red
// and the rest of the file in blue. The row being played shows its part growing with playback and
// a picture at the moment being heard. Screen readers get the part as text (the rows'
// Qt::AccessibleTextRole).
#pragma once

#include <QStyledItemDelegate>

namespace tolvane::pages {
class PartMarker;
}

namespace tolvane::wizard {

class QtPartBarDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    // The page's marker, which tells which row plays and where.
    void setMarker(pages::PartMarker* marker) { marker_ = marker; }
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

private:
    pages::PartMarker* marker_ = nullptr;
};

// The item data role that carries a row's entry id.
constexpr int kEntryIdRole = Qt::UserRole + 1;

}  // namespace tolvane::wizard
