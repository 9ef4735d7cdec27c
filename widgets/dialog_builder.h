#pragma once

// Builds the controls of a dialog template as Qt widgets on a page or dialog, so the layout is
// read from the one table in res/ and nowhere else. Each control is a child of the given widget,
// named after its id (labels all "65535") so that tests and the pages find it by number.

#include <QSize>
#include <QString>
#include <map>
#include <vector>

#include "res/dialog_templates.h"

class QWidget;

namespace hopwise {

class DialogControls {
public:
    // The control with this id; nullptr for an unknown id or for the shared label id.
    QWidget* control(int id) const;

    template <class Widget> Widget* get(int id) const { return qobject_cast<Widget*>(control(id)); }

    // Every built control in template order, labels included.
    const std::vector<QWidget*>& all() const { return m_all; }

    // The template's size in pixels of the dialog's font.
    QSize size() const { return m_size; }

private:
    friend DialogControls BuildDialogControls(const res::DialogTemplate&, QWidget*);
    std::map<int, QWidget*> m_byId;
    std::vector<QWidget*> m_all;
    QSize m_size;
};

// Creates the template's controls as children of dialog: the dialog takes DialogFont() and the
// geometry is in dialog units of it; shown or hidden and enabled or disabled as the style bits
// say, tab order in template order, and each input's accessible name taken from the label in
// front of it. An up-down control drives the control before it in the template, aligned to its
// right edge. The dialog itself is resized to the template's size.
DialogControls BuildDialogControls(const res::DialogTemplate& dialogTemplate, QWidget* dialog);

} // namespace hopwise
