#include "widgets/up_down_control.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <charconv>
#include <optional>

#include "res/texts.h"
#include "widgets/qt_text.h"

namespace hopwise {
namespace {

// Whole decimal numbers only, blanks around them allowed: "5x" or "" is no number.
std::optional<long long> parseNumber(const QString& text)
{
    const QByteArray bytes = text.trimmed().toLatin1();
    const char* begin = bytes.constData();
    const char* end = begin + bytes.size();
    if (begin != end && *begin == '+') {
        ++begin;
    }
    long long value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (begin == end || error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

} // namespace

UpDownControl::UpDownControl(QWidget* parent)
    : QWidget(parent), m_up(new QToolButton(this)), m_down(new QToolButton(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (QToolButton* arrow : {m_up, m_down}) {
        arrow->setAutoRepeat(true);
        arrow->setFocusPolicy(Qt::NoFocus);
        arrow->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        layout->addWidget(arrow);
    }
    m_up->setArrowType(Qt::UpArrow);
    m_down->setArrowType(Qt::DownArrow);
    m_up->setObjectName(QStringLiteral("up"));
    m_down->setObjectName(QStringLiteral("down"));
    // Arrows show no text, so a screen reader has nothing to read without these.
    m_up->setAccessibleName(FromUtf8(res::kAccessibleUpArrow));
    m_down->setAccessibleName(FromUtf8(res::kAccessibleDownArrow));
    connect(m_up, &QToolButton::clicked, this, [this] { stepBy(1); });
    connect(m_down, &QToolButton::clicked, this, [this] { stepBy(-1); });
}

void UpDownControl::setBuddy(QLineEdit* buddy)
{
    if (m_buddy) {
        m_buddy->removeEventFilter(this);
    }
    m_buddy = buddy;
    if (m_buddy) {
        m_buddy->installEventFilter(this);
    }
}

void UpDownControl::setRange(int lower, int upper)
{
    m_lower = lower;
    m_upper = upper;
}

int UpDownControl::clamp(int value) const
{
    return std::clamp(value, std::min(m_lower, m_upper), std::max(m_lower, m_upper));
}

void UpDownControl::setPosition(int position)
{
    m_position = clamp(position);
    if (m_buddy) {
        m_buddy->setText(QString::number(m_position));
    }
    emit positionChanged(m_position);
}

std::int32_t UpDownControl::position()
{
    bool error = true;
    if (m_buddy) {
        const std::optional<long long> number = parseNumber(m_buddy->text());
        if (number && *number >= std::min(m_lower, m_upper) &&
            *number <= std::max(m_lower, m_upper)) {
            m_position = static_cast<int>(*number);
            error = false;
        }
    }
    return (error ? kPositionError : 0) | (m_position & 0xFFFF);
}

void UpDownControl::stepBy(int steps)
{
    position();
    // The arrows point towards the upper end even when the range runs backwards.
    setPosition(m_position + (m_lower <= m_upper ? steps : -steps));
}

bool UpDownControl::eventFilter(QObject* watched, QEvent* event)
{
    // The event type first: a buddy being destroyed still sends events here, and comparing it
    // with the QPointer would cast an object that is no longer a QLineEdit.
    if (event->type() == QEvent::KeyPress && watched == m_buddy && isEnabled()) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            stepBy(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace hopwise
