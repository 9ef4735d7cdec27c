#include "widgets/dialog_builder.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>

#include "res/resource_ids.h"
#include "res/texts.h"
#include "widgets/dialog_units.h"
#include "widgets/qt_text.h"
#include "widgets/up_down_control.h"

namespace hopwise {
namespace {

using res::ControlKind;
using res::ControlTemplate;

// Style bits of the individual control classes that change how they are built.
constexpr std::uint32_t kStaticAlignMask = 0x3; // left 0, centre 1, right 2
constexpr std::uint32_t kUpDownAlignRight = 0x4;
// An edit field's height in dialog units; a combo box's template height includes its list.
constexpr int kFieldRowHeight = 14;

QString textOf(const ControlTemplate& control)
{
    return FromUtf8(control.text);
}

QWidget* makeWidget(const ControlTemplate& control, QWidget* dialog)
{
    switch (control.kind) {
    case ControlKind::PushButton: {
        auto* button = new QPushButton(textOf(control), dialog);
        button->setAutoDefault(false);
        return button;
    }
    case ControlKind::StaticText:
    case ControlKind::Icon: {
        auto* label = new QLabel(textOf(control), dialog);
        const std::uint32_t align = control.style & kStaticAlignMask;
        label->setAlignment((align == 1   ? Qt::AlignHCenter
                             : align == 2 ? Qt::AlignRight
                                          : Qt::AlignLeft) |
                            Qt::AlignTop);
        return label;
    }
    case ControlKind::Edit:
        return new QLineEdit(textOf(control), dialog);
    case ControlKind::UpDown:
        return new UpDownControl(dialog);
    case ControlKind::ComboBox: {
        auto* combo = new QComboBox(dialog);
        combo->setEditable(true);
        // The list keeps what the page adds, in that order; typing never completes or inserts.
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->setCompleter(nullptr);
        combo->setDuplicatesEnabled(true);
        return combo;
    }
    case ControlKind::CheckBox:
        return new QCheckBox(textOf(control), dialog);
    case ControlKind::TreeView: {
        auto* tree = new QTreeWidget(dialog);
        tree->setHeaderHidden(true);
        tree->setColumnCount(1);
        tree->setRootIsDecorated(true);
        tree->setSelectionMode(QAbstractItemView::SingleSelection);
        tree->setDragDropMode(QAbstractItemView::NoDragDrop);
        // A long name is never cut: the column is as wide as its widest item, and the view
        // scrolls sideways.
        tree->header()->setStretchLastSection(false);
        tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
        tree->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        tree->setAccessibleName(FromUtf8(res::kAccessibleHopTree));
        return tree;
    }
    case ControlKind::ListView: {
        auto* list = new QTreeWidget(dialog);
        list->setRootIsDecorated(false);
        list->setItemsExpandable(false);
        list->setUniformRowHeights(true);
        list->setAllColumnsShowFocus(true);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setSelectionBehavior(QAbstractItemView::SelectRows);
        list->header()->setStretchLastSection(false);
        list->header()->setSectionsMovable(false);
        list->setAccessibleName(FromUtf8(res::kAccessibleReplyList));
        return list;
    }
    }
    return new QWidget(dialog);
}

bool isInput(ControlKind kind)
{
    return kind == ControlKind::Edit || kind == ControlKind::UpDown ||
           kind == ControlKind::ComboBox || kind == ControlKind::TreeView ||
           kind == ControlKind::ListView;
}

// The label that names an input is the nearest one ending left of it on its first row; template
// order alone can't say, since the pages list "Name/IP" right before the Max Hop field.
const ControlTemplate* labelInFront(std::span<const ControlTemplate> controls,
                                    const ControlTemplate& input)
{
    const int rowTop = input.y;
    const int rowBottom = input.y + std::min(input.height, kFieldRowHeight);
    const ControlTemplate* best = nullptr;
    for (const ControlTemplate& label : controls) {
        if (label.kind != ControlKind::StaticText || label.id != res::kStaticId ||
            label.x + label.width > input.x || label.y >= rowBottom ||
            label.y + label.height <= rowTop) {
            continue;
        }
        if (best == nullptr || label.x + label.width > best->x + best->width) {
            best = &label;
        }
    }
    return best;
}

} // namespace

QWidget* DialogControls::control(int id) const
{
    const auto found = m_byId.find(id);
    return found == m_byId.end() ? nullptr : found->second;
}

DialogControls BuildDialogControls(const res::DialogTemplate& dialogTemplate, QWidget* dialog)
{
    DialogControls built;
    // The controls inherit the font the units are taken from, so every text is measured and
    // drawn in the font that sized its control, whatever the dialog's parent uses.
    dialog->setFont(DialogFont());
    const DialogUnits units(dialog->font());
    built.m_size =
        QSize(units.toPixelsX(dialogTemplate.width), units.toPixelsY(dialogTemplate.height));
    dialog->resize(built.m_size);

    QWidget* previousFocusable = nullptr;
    for (const ControlTemplate& control : dialogTemplate.controls) {
        QWidget* widget = makeWidget(control, dialog);
        widget->setObjectName(QString::number(control.id));
        QRect rect = units.toPixels(control.x, control.y, control.width, control.height);
        if (control.kind == ControlKind::ComboBox) {
            // The template's height is the dropped-down list's; the closed box is one field high.
            rect.setHeight(std::max(widget->sizeHint().height(),
                                    units.toPixelsY(std::min(control.height, kFieldRowHeight))));
        }
        if (control.kind == ControlKind::UpDown && !built.m_all.empty()) {
            auto* spinner = static_cast<UpDownControl*>(widget);
            QWidget* buddy = built.m_all.back();
            spinner->setBuddy(qobject_cast<QLineEdit*>(buddy));
            if ((control.style & kUpDownAlignRight) != 0) {
                // As a dialog manager aligns it: the spinner takes the buddy's right end.
                QRect field = buddy->geometry();
                field.setWidth(std::max(field.width() - rect.width(), 0));
                buddy->setGeometry(field);
                rect.moveTopLeft(QPoint(field.right() + 1, field.top()));
                rect.setHeight(field.height());
            }
        }
        widget->setGeometry(rect);
        widget->setHidden((control.style & res::kStyleVisible) == 0);
        widget->setEnabled((control.style & res::kStyleDisabled) == 0);
        if ((control.style & res::kStyleTabStop) != 0) {
            widget->setFocusPolicy(Qt::StrongFocus);
            if (previousFocusable != nullptr) {
                QWidget::setTabOrder(previousFocusable, widget);
            }
            previousFocusable = widget;
        } else {
            widget->setFocusPolicy(Qt::NoFocus);
        }
        if (isInput(control.kind)) {
            if (const ControlTemplate* label = labelInFront(dialogTemplate.controls, control)) {
                widget->setAccessibleName(textOf(*label));
                // A combo box's field and drop-down list are objects of their own to a
                // screen reader: they carry its name too.
                if (auto* combo = qobject_cast<QComboBox*>(widget)) {
                    combo->lineEdit()->setAccessibleName(textOf(*label));
                    combo->view()->setAccessibleName(textOf(*label));
                }
            }
        }
        if (control.id != res::kStaticId) {
            built.m_byId.emplace(control.id, widget);
        }
        built.m_all.push_back(widget);
    }
    return built;
}

} // namespace hopwise
