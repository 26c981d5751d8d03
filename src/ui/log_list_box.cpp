#include "ui/log_list_box.h"

#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>

#include "frontend/window_rules.h"

namespace gsms {

namespace {

constexpr int kColourRole = Qt::UserRole;

class LineDelegate : public QStyledItemDelegate {
public:
    explicit LineDelegate(QListWidget* list) : QStyledItemDelegate(list), list_(list) {}


    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        if (!index.isValid()) return;
        const ColorRef c = index.data(kColourRole).toUInt();
        const bool selected = option.state.testFlag(QStyle::State_Selected);
        const bool enabled = option.state.testFlag(QStyle::State_Enabled);
        const QPalette& pal = option.palette;

        painter->save();
        painter->fillRect(option.rect, selected ? toQColor(c) : pal.color(QPalette::Base));
        QColor text;
        if (selected)
            text = c == 0 ? pal.color(QPalette::HighlightedText)
                          : toQColor(selectedLineTextColour(c));
        else if (!enabled)
            text = pal.color(QPalette::Disabled, QPalette::Text);
        else
            text = c == 0 ? pal.color(QPalette::Text) : toQColor(c);
        // The focus mark of the old list: a dotted frame round the current line.
        if (option.state.testFlag(QStyle::State_HasFocus)) {
            painter->setPen(QPen(text, 1, Qt::DotLine));
            painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
        }
        painter->setPen(text);
        painter->setFont(option.font);

        // The text's own rectangle from the item's top-left corner, centred in it.
        const QString line = index.data(Qt::DisplayRole).toString();
        const QFontMetrics fm(option.font);
        const QRect box(option.rect.topLeft(), QSize(fm.horizontalAdvance(line), fm.height()));
        painter->drawText(box, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, line);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        // The height of a menu check mark, as the list always had.
        return {QStyledItemDelegate::sizeHint(option, index).width(),
                list_->style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, list_)};
    }

private:
    QListWidget* list_;
};

}  // namespace

QColor toQColor(ColorRef colour) {
    return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                  static_cast<int>((colour >> 16) & 0xFF));
}

CLogListBox::CLogListBox(QWidget* parent) : QListWidget(parent) {
    setItemDelegate(new LineDelegate(this));
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

void CLogListBox::addLine(const QString& text, ColorRef colour) {
    auto* item = new QListWidgetItem(text);
    item->setData(kColourRole, colour);
    addItem(item);
}

ColorRef CLogListBox::lineColour(int row) const {
    const QListWidgetItem* it = item(row);
    return it == nullptr ? 0 : it->data(kColourRole).toUInt();
}

}  // namespace gsms
