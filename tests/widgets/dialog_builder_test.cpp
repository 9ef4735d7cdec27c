// The dialog builder against every template: each control's kind, name, state and place as the
// template says.

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionButton>
#include <gtest/gtest.h>

#include "widgets/dialog_builder.h"
#include "widgets/dialog_units.h"

namespace hopwise {
namespace {

// The widget class of each ControlKind.
constexpr const char* kClassOf[] = {
    "QPushButton", "QLabel",    "QLabel",      "QLineEdit",  "hopwise::UpDownControl",
    "QComboBox",   "QCheckBox", "QTreeWidget", "QTreeWidget"};

class DialogBuilderTest : public ::testing::TestWithParam<const res::DialogTemplate& (*)()> {};

TEST_P(DialogBuilderTest, buildsEveryControlAsItsTemplateSays)
{
    const res::DialogTemplate& layout = GetParam()();
    QWidget dialog;
    const std::vector<QWidget*> built = BuildDialogControls(layout, &dialog).all();
    const DialogUnits units(dialog.font());
    ASSERT_EQ(built.size(), layout.controls.size());
    for (std::size_t i = 0; i < built.size(); ++i) {
        const res::ControlTemplate& control = layout.controls[i];
        QWidget& widget = *built[i];
        SCOPED_TRACE(control.id);
        EXPECT_STREQ(widget.metaObject()->className(), kClassOf[static_cast<int>(control.kind)]);
        EXPECT_EQ(widget.objectName(), QString::number(control.id));
        EXPECT_EQ(widget.isHidden(), (control.style & res::kStyleVisible) == 0);
        EXPECT_EQ(widget.isEnabled(), (control.style & res::kStyleDisabled) == 0);
        // A spinner gives way to its buddy's right end; a combo box keeps its own height.
        const QRect place = units.toPixels(control.x, control.y, control.width, control.height);
        EXPECT_TRUE(widget.x() == place.x() || control.kind == res::ControlKind::UpDown);
        EXPECT_EQ(widget.y(), place.y());
        EXPECT_TRUE(widget.height() == place.height() ||
                    control.kind == res::ControlKind::ComboBox);
        EXPECT_EQ(widget.focusPolicy() == Qt::NoFocus, (control.style & res::kStyleTabStop) == 0);
    }
}

// Each text shows whole in its control: a label's in its width, a button's and a check box's in
// the room their style leaves beside the frame or the box. ctest runs this program at
// QT_SCALE_FACTOR 1 and 2.
TEST_P(DialogBuilderTest, everyTextFitsItsControl)
{
    const res::DialogTemplate& layout = GetParam()();
    QWidget dialog;
    const std::vector<QWidget*> built = BuildDialogControls(layout, &dialog).all();
    for (std::size_t i = 0; i < built.size(); ++i) {
        SCOPED_TRACE(std::string(layout.controls[i].text) + " at scale " +
                     QString::number(qApp->devicePixelRatio()).toStdString());
        const QWidget& widget = *built[i];
        int room = widget.contentsRect().width();
        QString text;
        if (const auto* label = qobject_cast<const QLabel*>(&widget)) {
            text = label->text();
        } else if (const auto* button = qobject_cast<const QAbstractButton*>(&widget)) {
            QStyleOptionButton option;
            option.initFrom(button);
            text = option.text = button->text();
            const bool box = layout.controls[i].kind == res::ControlKind::CheckBox;
            room = widget.style()
                       ->subElementRect(box ? QStyle::SE_CheckBoxContents
                                            : QStyle::SE_PushButtonContents,
                                        &option, &widget)
                       .width();
        }
        EXPECT_LE(widget.fontMetrics().horizontalAdvance(text), room);
    }
}

INSTANTIATE_TEST_SUITE_P(Templates, DialogBuilderTest,
                         ::testing::Values(res::TraceRoutePageTemplate, res::PingPageTemplate,
                                           res::AboutDialogTemplate));

} // namespace
} // namespace hopwise
