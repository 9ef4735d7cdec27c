// The dialog builder against the templates, and the up-down control's position rules.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "widgets/dialog_builder.h"
#include "widgets/dialog_units.h"
#include "widgets/up_down_control.h"
#include "res/dialog_templates.h"
#include "res/resource_ids.h"

namespace hopwise {
namespace {

using res::ControlKind;

bool hasKind(QWidget* widget, ControlKind kind)
{
    switch (kind) {
    case ControlKind::PushButton:
        return qobject_cast<QPushButton*>(widget) != nullptr;
    case ControlKind::StaticText:
    case ControlKind::Icon:
        return qobject_cast<QLabel*>(widget) != nullptr;
    case ControlKind::Edit:
        return qobject_cast<QLineEdit*>(widget) != nullptr;
    case ControlKind::UpDown:
        return qobject_cast<UpDownControl*>(widget) != nullptr;
    case ControlKind::ComboBox:
        return qobject_cast<QComboBox*>(widget) != nullptr;
    case ControlKind::CheckBox:
        return qobject_cast<QCheckBox*>(widget) != nullptr;
    case ControlKind::TreeView:
    case ControlKind::ListView:
        return qobject_cast<QTreeWidget*>(widget) != nullptr;
    }
    return false;
}

class DialogBuilderTest : public ::testing::TestWithParam<const res::DialogTemplate* (*)()> {};

TEST_P(DialogBuilderTest, buildsEveryControlAsItsTemplateSays)
{
    const res::DialogTemplate& layout = *GetParam()();
    QWidget dialog;
    const DialogControls built = BuildDialogControls(layout, &dialog);
    const DialogUnits units(dialog.font());
    EXPECT_EQ(dialog.size(), QSize(units.toPixelsX(layout.width), units.toPixelsY(layout.height)));
    ASSERT_EQ(built.all().size(), layout.controls.size());

    QWidget* previousTabStop = nullptr;
    for (std::size_t i = 0; i < layout.controls.size(); ++i) {
        const res::ControlTemplate& control = layout.controls[i];
        QWidget* widget = built.all()[i];
        SCOPED_TRACE(control.id);
        EXPECT_EQ(widget->parentWidget(), &dialog);
        EXPECT_EQ(widget->objectName(), QString::number(control.id));
        EXPECT_TRUE(hasKind(widget, control.kind));
        EXPECT_EQ(widget->isHidden(), (control.style & res::kStyleVisible) == 0);
        EXPECT_EQ(widget->isEnabled(), (control.style & res::kStyleDisabled) == 0);
        const QRect rect = units.toPixels(control.x, control.y, control.width, control.height);
        EXPECT_EQ(widget->x(), control.kind == ControlKind::UpDown ? widget->x() : rect.x());
        EXPECT_EQ(widget->y(), rect.y());
        if (control.kind != ControlKind::ComboBox) {
            EXPECT_EQ(widget->height(), rect.height());
        }
        if (control.id != res::kStaticId) {
            EXPECT_EQ(built.control(control.id), widget);
        }
        if (control.kind == ControlKind::UpDown) {
            // Aligned right: the spinner ends where its buddy's template rectangle ended.
            auto* spinner = qobject_cast<UpDownControl*>(widget);
            const res::ControlTemplate& buddy = layout.controls[i - 1];
            ASSERT_EQ(spinner->buddy(), built.all()[i - 1]);
            EXPECT_EQ(spinner->geometry().right(),
                      units.toPixels(buddy.x, buddy.y, buddy.width, buddy.height).right());
            EXPECT_EQ(spinner->buddy()->geometry().right() + 1, spinner->x());
        } else if (control.kind != ControlKind::ComboBox &&
                   !(i + 1 < layout.controls.size() &&
                     layout.controls[i + 1].kind == ControlKind::UpDown)) {
            EXPECT_EQ(widget->width(), rect.width());
        }
        if ((control.style & res::kStyleTabStop) != 0) {
            if (previousTabStop != nullptr) {
                // Tab skips the controls' own parts (a combo box's field) and the labels.
                QWidget* next = previousTabStop->nextInFocusChain();
                while (next != nullptr && next != previousTabStop &&
                       (next->parentWidget() != &dialog ||
                        (next->focusPolicy() & Qt::TabFocus) == 0)) {
                    next = next->nextInFocusChain();
                }
                EXPECT_EQ(next, widget);
            }
            previousTabStop = widget;
        } else {
            EXPECT_EQ(widget->focusPolicy(), Qt::NoFocus);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Templates, DialogBuilderTest,
                         ::testing::Values(
                             +[] { return &res::TraceRoutePageTemplate(); },
                             +[] { return &res::PingPageTemplate(); },
                             +[] { return &res::AboutDialogTemplate(); }));

struct NameCase {
    const res::DialogTemplate* (*layout)();
    int id;
    const char* name;
};

class AccessibleNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(AccessibleNameTest, eachInputIsNamedByTheLabelInFrontOfIt)
{
    QWidget dialog;
    const DialogControls built = BuildDialogControls(*GetParam().layout(), &dialog);
    ASSERT_NE(built.control(GetParam().id), nullptr);
    EXPECT_EQ(built.control(GetParam().id)->accessibleName(), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, AccessibleNameTest,
    ::testing::Values(
        NameCase{+[] { return &res::TraceRoutePageTemplate(); }, res::kTraceHost, "Name/IP"},
        NameCase{+[] { return &res::TraceRoutePageTemplate(); }, res::kTraceMaxHop, "Max Hop"},
        NameCase{+[] { return &res::PingPageTemplate(); }, res::kPingHost, "Name/IP"},
        NameCase{+[] { return &res::PingPageTemplate(); }, res::kPingMaxHop, "Max Hop"},
        NameCase{+[] { return &res::PingPageTemplate(); }, res::kPingNumTrials, "Num Trials"}));

TEST(DialogBuilderCombo, isEditableUnsortedAndNeverCompletesOrInserts)
{
    QWidget dialog;
    const DialogControls built = BuildDialogControls(res::PingPageTemplate(), &dialog);
    auto* combo = built.get<QComboBox>(res::kPingHost);
    ASSERT_NE(combo, nullptr);
    combo->addItem("gateway1");
    combo->addItem("alpha");
    combo->setCurrentIndex(-1);
    combo->setFocus();
    QTest::keyClicks(combo->lineEdit(), "gate");
    QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(combo->currentText(), "gate");
    EXPECT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->itemText(1), "alpha");
}

struct PositionCase {
    const char* buddyText;
    std::int32_t answer;
};

class UpDownPositionTest : public ::testing::TestWithParam<PositionCase> {};

TEST_P(UpDownPositionTest, answersLikeTheGetPositionMessage)
{
    QLineEdit buddy;
    UpDownControl spinner;
    spinner.setBuddy(&buddy);
    spinner.setRange(0, 16960);
    spinner.setPosition(20);
    EXPECT_EQ(buddy.text(), "20");
    buddy.setText(GetParam().buddyText);
    EXPECT_EQ(spinner.position(), GetParam().answer);
}

constexpr std::int32_t kError = UpDownControl::kPositionError;

INSTANTIATE_TEST_SUITE_P(
    Texts, UpDownPositionTest,
    ::testing::Values(PositionCase{"7", 7}, PositionCase{" 12 ", 12}, PositionCase{"0", 0},
                      PositionCase{"16960", 16960}, PositionCase{"16961", kError | 20},
                      PositionCase{"-1", kError | 20}, PositionCase{"abc", kError | 20},
                      PositionCase{"5x", kError | 20}, PositionCase{"", kError | 20},
                      PositionCase{"99999999999999999999", kError | 20}));

TEST(UpDownControl, arrowsAndKeysStepFromTheTypedNumberWithinTheRange)
{
    QWidget dialog;
    auto* buddy = new QLineEdit(&dialog);
    auto* spinner = new UpDownControl(&dialog);
    spinner->setBuddy(buddy);
    spinner->setRange(0, 3);
    spinner->setPosition(9);
    EXPECT_EQ(buddy->text(), "3") << "positions stay within the range";

    buddy->setText("1");
    spinner->findChild<QToolButton*>("up")->click();
    EXPECT_EQ(buddy->text(), "2");
    spinner->findChild<QToolButton*>("up")->click();
    spinner->findChild<QToolButton*>("up")->click();
    EXPECT_EQ(buddy->text(), "3");

    QTest::keyClick(buddy, Qt::Key_Down);
    QTest::keyClick(buddy, Qt::Key_Down);
    EXPECT_EQ(buddy->text(), "1");
    buddy->setText("junk");
    QTest::keyClick(buddy, Qt::Key_Up);
    EXPECT_EQ(buddy->text(), "2") << "odd text steps from the last position";
    spinner->findChild<QToolButton*>("down")->click();
    spinner->findChild<QToolButton*>("down")->click();
    spinner->findChild<QToolButton*>("down")->click();
    EXPECT_EQ(buddy->text(), "0");
}

} // namespace
} // namespace hopwise
