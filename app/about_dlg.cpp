#include "app/about_dlg.h"

#include <QLabel>
#include <QPushButton>
#include <QShowEvent>

#include "app/shell_resources.h"
#include "res/dialog_templates.h"
#include "res/resource_ids.h"
#include "widgets/dialog_units.h"
#include "widgets/qt_text.h"

namespace hopwise {
namespace {

// Static style bits the box acts on.
constexpr std::uint32_t kStaticAlignMask = 0x3;
constexpr std::uint32_t kStaticCenter = 0x1;

// The template's OK lives in the caption on the handheld; here it is a button of the box's own,
// centred below the notice.
constexpr int kOkX = 46;
constexpr int kOkY = 137;
constexpr int kOkWidth = 40;
constexpr int kOkHeight = 14;

} // namespace

CAboutDlg::CAboutDlg(QWidget* owner) : QDialog(owner)
{
    const res::DialogTemplate& dialog = res::AboutDialogTemplate();
    setFont(DialogFont());
    const DialogUnits units(font());

    setObjectName(QString::number(dialog.id));
    setWindowTitle(FromUtf8(dialog.caption));
    setModal(true);
    setFixedSize(units.toPixelsX(dialog.width), units.toPixelsY(dialog.height));

    for (const res::ControlTemplate& control : dialog.controls) {
        auto* label = new QLabel(this);
        label->setObjectName(QString::number(control.id));
        const QRect rect = units.toPixels(control.x, control.y, control.width, control.height);
        label->setGeometry(rect);
        if (control.kind == res::ControlKind::Icon) {
            label->setPixmap(AppIcon().pixmap(rect.size()));
            label->setAccessibleName(QStringLiteral("Hopwise icon"));
        } else {
            label->setText(FromUtf8(control.text));
            label->setWordWrap(false);
            const bool centred = (control.style & kStaticAlignMask) == kStaticCenter;
            label->setAlignment((centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
        }
        label->setVisible((control.style & res::kStyleVisible) != 0);
    }

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QString::number(res::kCmdOk));
    ok->setGeometry(units.toPixels(kOkX, kOkY, kOkWidth, kOkHeight));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    setWindowIcon(AppIcon());
}

void CAboutDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (QWidget* owner = parentWidget(); owner != nullptr && !event->spontaneous()) {
        const QPoint centre = owner->window()->frameGeometry().center();
        move(centre - QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
    }
}

} // namespace hopwise
