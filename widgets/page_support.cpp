#include "widgets/page_support.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QShortcut>
#include <string>
#include <vector>

#include "widgets/up_down_control.h"
#include "res/texts.h"
#include "settings/host_history.h"

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace hopwise {
namespace {

QString fromView(std::u16string_view text)
{
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

std::u16string_view viewOf(const QString& text)
{
    return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())};
}

QString fromRes(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void fillList(QComboBox& combo, const std::vector<std::u16string>& hosts)
{
    for (const std::u16string& host : hosts) {
        combo.addItem(fromView(host));
    }
    // Adding to an empty list makes the first item current, which would fill the edit field.
    combo.setCurrentIndex(-1);
    combo.clearEditText();
}

// Qt hands a posted event over under its own lock, which ThreadSanitizer can't see inside an
// uninstrumented Qt; these tell it that what a poster wrote before posting to a receiver is
// visible to that receiver's thread once it takes the event. The receiver's address is the key.
void publishTo([[maybe_unused]] const QObject* receiver)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_release(const_cast<QObject*>(receiver));
#endif
}

void receiveAt([[maybe_unused]] const QObject* receiver)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(const_cast<QObject*>(receiver));
#endif
}

// One notification on its way to the window thread. A posted event rather than a queued
// functor: Qt owns it from the post on, and deletes it on the receiver's thread, delivered or
// not (a receiver that dies first takes its pending events with it).
class ChannelCallEvent final : public QEvent {
public:
    static Type eventType()
    {
        static const Type type = static_cast<Type>(QEvent::registerEventType());
        return type;
    }

    ChannelCallEvent(const QObject* receiver, SyncMessageChannel::Call call)
        : QEvent(eventType()), m_receiver(receiver), m_call(std::move(call))
    {
        publishTo(m_receiver);
    }
    // Also when Qt drops the event undelivered, on the receiver's thread.
    ~ChannelCallEvent() override { receiveAt(m_receiver); }
    ChannelCallEvent(const ChannelCallEvent&) = delete;
    ChannelCallEvent& operator=(const ChannelCallEvent&) = delete;

    void run() { m_call(); }

private:
    const QObject* m_receiver;
    SyncMessageChannel::Call m_call;
};

} // namespace

void ShowWarningBox(QWidget* parent, const QString& text)
{
    // On the heap and watched: the page (its parent) may be torn down while the box is open.
    QPointer<QMessageBox> box = new QMessageBox(QMessageBox::Warning, fromRes(res::kAppName), text,
                                                QMessageBox::Ok, parent);
    box->setWindowModality(Qt::ApplicationModal);
    box->exec();
    delete box.data();
}

SyncMessageChannel::Poster QueuedPoster(QObject* page)
{
    return [page](SyncMessageChannel::Call call) {
        QCoreApplication::postEvent(page, new ChannelCallEvent(page, std::move(call)));
    };
}

bool RunChannelCall(const QObject& receiver, QEvent* event)
{
    receiveAt(&receiver);
    if (event->type() != ChannelCallEvent::eventType()) {
        return false;
    }
    static_cast<ChannelCallEvent*>(event)->run();
    return true;
}

void ShowMaxHop(UpDownControl& spinner, std::int32_t maxHopCount)
{
    spinner.setRange(0, kMaxHopUpper);
    spinner.setPosition(maxHopCount & 0xFFFF);
}

std::int32_t TakeMaxHop(UpDownControl& spinner)
{
    spinner.setRange(0, kMaxHopUpper);
    return spinner.position() & 0xFFFF;
}

void LoadHistoryInto(QComboBox& combo, SettingsStore& store, std::u16string_view section)
{
    fillList(combo, LoadHostHistory(store, section));
}

void RecordHostIn(QComboBox& combo, SettingsStore& store, std::u16string_view section,
                  const QString& host)
{
    // Without MatchCaseSensitive the comparison ignores case; every item is compared.
    if (combo.findText(host, Qt::MatchStartsWith) != -1) {
        return;
    }
    RecordHost(store, section, viewOf(host));
    combo.addItem(host);
    combo.setEditText(host);
}

void ClearHistoryOf(QComboBox& combo, SettingsStore& store, std::u16string_view section)
{
    const std::vector<std::u16string> left = ClearHostHistory(store, section);
    combo.clear();
    fillList(combo, left);
}

void TakeHostText(char (&host)[kHostTextSize], const QString& text)
{
    SetHostText(host, viewOf(text));
}

QString FromWorkerText(const char* text)
{
    return QString::fromUtf8(text);
}

void BindCancelCommand(QWidget& page, std::function<void()> onEscape)
{
    auto* shortcut = new QShortcut(QKeySequence(Qt::Key_Escape), &page);
    shortcut->setContext(Qt::WidgetWithChildrenShortcut);
    QObject::connect(shortcut, &QShortcut::activated, &page, std::move(onEscape));
}

} // namespace hopwise
