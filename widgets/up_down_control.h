#pragma once

// A spinner beside a text field that it treats as a number: the arrows (and the Up/Down keys
// inside the field) step a position within a range and write it into the field, and asking for
// the position reads the field back. Unlike QSpinBox the field keeps any text the user types,
// and a position request answers with an error flag instead of refusing the text, so the caller
// decides what odd text means.

#include <QLineEdit>
#include <QPointer>
#include <QWidget>
#include <cstdint>

class QToolButton;

namespace hopwise {

class UpDownControl : public QWidget {
    Q_OBJECT
public:
    // Set in the upper 16 bits of position()'s answer when the buddy's text was no number in
    // range.
    static constexpr std::int32_t kPositionError = 0x10000;

    explicit UpDownControl(QWidget* parent = nullptr);

    // The field the control drives; the Up/Down keys pressed in it step the position.
    void setBuddy(QLineEdit* buddy);
    QLineEdit* buddy() const { return m_buddy; }

    // The range stays as given even when lower > upper; positions are kept within it.
    void setRange(int lower, int upper);
    int lower() const { return m_lower; }
    int upper() const { return m_upper; }

    // Clamps to the range, keeps the value and writes it into the buddy as decimal text.
    void setPosition(int position);

    // The buddy's number when its text is a whole decimal number within the range (and that
    // becomes the position); else the last position with kPositionError added. The position
    // travels in the low 16 bits.
    std::int32_t position();

    // The position as last kept, without reading the buddy.
    int lastPosition() const { return m_position; }

    // One arrow press: reads the buddy first, so typing then pressing an arrow steps from the
    // typed number.
    void stepBy(int steps);

signals:
    void positionChanged(int position);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int clamp(int value) const;

    QPointer<QLineEdit> m_buddy;
    QToolButton* m_up;
    QToolButton* m_down;
    int m_lower = 0;
    int m_upper = 100;
    int m_position = 0;
};

} // namespace hopwise
