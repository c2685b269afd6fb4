// Draws column 1 of the Files page's list: a framed bar per row with the part to convert in red
// and the rest of the file in blue.
#pragma once

#include <QStyledItemDelegate>

namespace tolvane::wizard {

class QtPartBarDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

// The item data role that carries a row's entry id.
constexpr int kEntryIdRole = Qt::UserRole + 1;

}  // namespace tolvane::wizard
