#include "widgets/probe_page.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QShortcut>
#include <QTreeWidget>
#include <string>
#include <system_error>
#include <vector>

#include "probe/host_address.h"
#include "res/resource_ids.h"
#include "res/texts.h"
#include "settings/host_history.h"
#include "widgets/channel_wakeup.h"
#include "widgets/qt_text.h"
#include "widgets/up_down_control.h"

namespace hopwise {
namespace {

// The upper end of the Max Hop spinner on both pages.
constexpr int kMaxHopUpper = 16960;

void fillList(QComboBox& combo, const std::vector<std::u16string>& hosts)
{
    for (const std::u16string& host : hosts) {
        combo.addItem(FromUtf16(host));
    }
    // Adding to an empty list makes the first item current, which would fill the edit field.
    combo.setCurrentIndex(-1);
    combo.clearEditText();
}

} // namespace

void ShowWarningBox(QWidget* parent, const QString& text)
{
    // On the heap and watched: the page (its parent) may be torn down while the box is open.
    QPointer<QMessageBox> box = new QMessageBox(QMessageBox::Warning, FromUtf8(res::kAppName), text,
                                                QMessageBox::Ok, parent);
    box->setWindowModality(Qt::ApplicationModal);
    box->exec();
    delete box.data();
}

ProbePage::ProbePage(SettingsStore& store, const ProbePageShape& shape)
    : m_store(store), m_shape(shape)
{
}

ProbePage::~ProbePage() = default;

bool ProbePage::Create(QWidget* parent)
{
    setParent(parent);
    m_controls = BuildDialogControls(m_shape.dialog(), this);
    m_go = control<QPushButton>(m_shape.controls.go);
    m_cancel = control<QPushButton>(m_shape.controls.cancel);
    m_host = control<QComboBox>(m_shape.controls.host);
    m_status = control<QLabel>(m_shape.controls.status);
    m_destIp = control<QLabel>(m_shape.controls.destIp);
    m_maxHopSpin = control<UpDownControl>(m_shape.controls.maxHopSpin);
    m_results = control<QTreeWidget>(m_shape.controls.results);

    connect(m_go, &QPushButton::clicked, this, [this] { OnCommand(m_shape.controls.go); });
    connect(m_cancel, &QPushButton::clicked, this, [this] { OnCommand(m_shape.controls.cancel); });
    // Escape anywhere on the page is the dialog's cancel command.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, this, [this] { OnCommand(res::kCmdCancel); });
    setUpResultView();
    // Enter on a focused GO or Cancel presses it (Space does already); the status line is
    // announced when a run's end shows it.
    m_go->installEventFilter(this);
    m_cancel->installEventFilter(this);
    m_status->installEventFilter(this);
    return OnInitPage();
}

bool ProbePage::OnInitPage()
{
    fillList(*m_host, LoadHostHistory(m_store, m_shape.historySection));
    m_maxHopSpin->setRange(0, kMaxHopUpper);
    m_maxHopSpin->setPosition(runFields().maxHopCount & 0xFFFF);
    return true;
}

void ProbePage::OnCommand(int id)
{
    if (id == m_shape.controls.go) {
        OnGo();
    } else if (id == m_shape.controls.cancel || id == res::kCmdCancel) {
        cancelRun();
    } else if (id == m_shape.clearHistoryCommand) {
        OnClearHistory();
    }
    // The OK command (Enter in a field) starts nothing.
}

void ProbePage::takeMaxHop()
{
    // Text that is no number in range makes the spinner answer with its error flag over the
    // last position; the run takes that position.
    m_maxHopSpin->setRange(0, kMaxHopUpper);
    runFields().maxHopCount = m_maxHopSpin->position() & 0xFFFF;
}

void ProbePage::setInputsEnabled(bool enabled)
{
    for (const int id : m_shape.inputs) {
        m_controls.control(id)->setEnabled(enabled);
    }
}

void ProbePage::OnGo()
{
    // The previous run has handled its last message; at most its thread is still returning.
    m_run.reset();

    takeInputs();
    setInputsEnabled(false);

    const RunFields run = runFields();
    const QString host = m_host->currentText();
    SetHostText(run.host, Utf16View(host));
    // Recorded unless an item already begins with it; without MatchCaseSensitive the
    // comparison ignores case, and every item is compared.
    if (m_host->findText(host, Qt::MatchStartsWith) == -1) {
        RecordHost(m_store, m_shape.historySection, Utf16View(host));
        m_host->addItem(host);
        m_host->setEditText(host);
    }

    m_runHost = host;
    m_runTime = QDateTime::currentDateTime();
    m_runSettings = runSettingsText();

    m_status->hide();
    run.cancel = false;
    m_cancel->show();
    m_cancel->setEnabled(true);

    m_results->clear();

    try {
        if (!m_wakeup) {
            m_wakeup = std::make_unique<ChannelWakeup>(*this, [this] {
                if (m_run) {
                    m_run->deliverMessage();
                }
            });
        }
        m_run = startWorker(*this, m_wakeup->wake());
    } catch (const std::system_error&) {
        // No thread or no wake-up, no run: end it here as a worker would, so the page doesn't
        // hang in "running".
        run.window = nullptr;
        OnWorkerMessage(WM_PROBE_FINISHED, -1, 0);
    }
}

void ProbePage::cancelRun()
{
    runFields().cancel = true;
    m_cancel->setEnabled(false);
}

void ProbePage::OnClearHistory()
{
    const std::vector<std::u16string> left = ClearHostHistory(m_store, m_shape.historySection);
    m_host->clear();
    fillList(*m_host, left);
}

std::intptr_t ProbePage::sendMessage(std::uint32_t message, std::intptr_t wParam,
                                     std::intptr_t lParam)
{
    return OnWorkerMessage(message, wParam, lParam);
}

void ProbePage::showMessage(const QString& text)
{
    // The page may be gone when the box returns: nothing of it is touched afterwards.
    const PageMessageBox box = m_messageBox;
    box(this, text);
}

std::intptr_t ProbePage::OnWorkerMessage(std::uint32_t message, std::intptr_t wParam,
                                         std::intptr_t /*lParam*/)
{
    switch (message) {
    case WM_PROBE_FINISHED:
        m_cancel->hide();
        m_status->setText(FromUtf8(runFields().cancel ? res::kStatusCancelled : res::kStatusDone));
        m_status->show();
        setInputsEnabled(true);
        break;
    case WM_PROBE_UNRESOLVED:
        showMessage(FromUtf8(res::kCantResolveName));
        break;
    case WM_PROBE_NOT_PERMITTED:
        showMessage(QString::fromUtf8(NotPermittedHintOf(wParam)));
        break;
    case WM_PROBE_DESTINATION:
        showDestination(QString::fromUtf16(DestinationTextOf(wParam)));
        break;
    case WM_PROBE_RESULT:
        addResult(ProbeResultOf(wParam));
        break;
    default:
        break;
    }
    return 0;
}

void ProbePage::showDestination(const QString& text)
{
    m_destination = text;
    // The template sizes the line for a dotted address. A longer IPv6 one loses its middle, so
    // that both its network prefix and its interface id (or zone) stay in sight behind the
    // whole "Dest IP: "; the tool tip and the accessible name carry it whole.
    const QString prefix = FromUtf8(res::kDestIpPrefix);
    const qsizetype kept = text.startsWith(prefix) ? prefix.size() : 0;
    const QFontMetrics metrics = m_destIp->fontMetrics();
    const QString shown =
        text.left(kept) + metrics.elidedText(text.mid(kept), Qt::ElideMiddle,
                                             m_destIp->contentsRect().width() -
                                                 metrics.horizontalAdvance(text.left(kept)));
    m_destIp->setText(shown);
    const QString whole = shown == text ? QString() : text;
    m_destIp->setToolTip(whole);
    m_destIp->setAccessibleName(whole);
}

bool ProbePage::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && (watched == m_go || watched == m_cancel)) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            static_cast<QPushButton*>(watched)->click();
            return true;
        }
    } else if (event->type() == QEvent::ContextMenu && watched == m_results &&
               static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard) {
        // Its position is the view's, not the rows': the menu goes to the current row.
        openResultMenuAtCurrentRow();
        return true;
    } else if (event->type() == QEvent::Show && watched == m_status) {
        QAccessibleEvent changed(m_status, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&changed);
        QAccessibleEvent alert(m_status, QAccessible::Alert);
        QAccessible::updateAccessibility(&alert);
    }
    return QWidget::eventFilter(watched, event);
}

bool ProbePage::isRunning() const
{
    return !m_cancel->isHidden();
}

void ProbePage::runFor(const QString& host)
{
    m_host->setEditText(host);
    OnGo();
}

void ProbePage::setUpResultView()
{
    m_results->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_results, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& position) { openResultMenu(position); });
    auto* copy = new QAction(FromUtf8(res::kResultCopy), m_results);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    connect(copy, &QAction::triggered, this, [this] { copyToClipboard(selectedRowsText()); });
    m_results->addAction(copy);
    // The platform turns the Menu key into a keyboard context menu event (see eventFilter);
    // Shift+F10 is the other key for it.
    m_results->installEventFilter(this);
    auto* menuKey = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), m_results);
    menuKey->setContext(Qt::WidgetShortcut);
    connect(menuKey, &QShortcut::activated, this, [this] { openResultMenuAtCurrentRow(); });
}

void ProbePage::openResultMenuAtCurrentRow()
{
    const QRect row = m_results->visualItemRect(m_results->currentItem());
    openResultMenu(row.isValid() ? row.center() : QPoint(0, 0));
}

void ProbePage::openResultMenu(const QPoint& viewportPosition)
{
    if (QTreeWidgetItem* item = m_results->itemAt(viewportPosition)) {
        m_results->setCurrentItem(item);
    }
    const QList<QTreeWidgetItem*> selected = m_results->selectedItems();
    delete m_resultMenu.data();
    auto* menu = new QMenu(m_results);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    m_resultMenu = menu;

    QAction* copy = menu->addAction(FromUtf8(res::kResultCopy), this,
                                    [this] { copyToClipboard(selectedRowsText()); });
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(!selected.isEmpty());
    QAction* copyAll = menu->addAction(FromUtf8(res::kResultCopyAll), this,
                                       [this] { copyToClipboard(allRowsText()); });
    copyAll->setEnabled(m_results->topLevelItemCount() > 0);
    if (m_handOff.start) {
        const QString address = selected.isEmpty() ? QString() : rowAddress(*selected.front());
        QAction* handOff =
            menu->addAction(m_handOff.text, this, [this, address] { m_handOff.start(address); });
        handOff->setEnabled(!address.isEmpty() && (!m_handOff.available || m_handOff.available()));
    }
    if (m_monitorHandOff) {
        const QString host = routeHost();
        QAction* monitor = menu->addAction(FromUtf8(res::kResultMonitorThisRoute), this,
                                           [this, host] { m_monitorHandOff(host); });
        monitor->setEnabled(!host.isEmpty());
    }
    menu->popup(m_results->viewport()->mapToGlobal(viewportPosition));
}

QString ProbePage::routeHost() const
{
    return m_runHost.isEmpty() ? m_host->currentText().trimmed() : m_runHost;
}

void ProbePage::copyToClipboard(const QString& text) const
{
    if (!text.isEmpty()) {
        QApplication::clipboard()->setText(text);
    }
}

namespace {

QString rowLines(const QTreeWidgetItem& item)
{
    QStringList cells;
    for (int column = 0; column < item.columnCount(); ++column) {
        cells << item.text(column);
    }
    QString text = cells.join(QLatin1Char('\t'));
    for (int child = 0; child < item.childCount(); ++child) {
        text += QLatin1Char('\n') + rowLines(*item.child(child));
    }
    return text;
}

} // namespace

QString ProbePage::selectedRowsText() const
{
    QStringList lines;
    for (const QTreeWidgetItem* item : m_results->selectedItems()) {
        lines << rowLines(*item);
    }
    return lines.isEmpty() ? QString() : lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString ProbePage::allRowsText() const
{
    QString address = m_destination;
    if (address.startsWith(FromUtf8(res::kDestIpPrefix))) {
        address.remove(0, FromUtf8(res::kDestIpPrefix).size());
    }
    const auto line = [](std::string_view name, const QString& value) {
        return FromUtf8(name) + QStringLiteral(": ") + value + QLatin1Char('\n');
    };
    QString text = line(res::kCopyHeaderHost, m_runHost) + line(res::kCopyHeaderAddress, address) +
                   line(res::kCopyHeaderTime, m_runTime.toString(Qt::ISODate).replace('T', ' ')) +
                   line(res::kCopyHeaderSettings, m_runSettings) + QLatin1Char('\n');
    if (!m_results->isHeaderHidden()) {
        text += rowLines(*m_results->headerItem()) + QLatin1Char('\n');
    }
    for (int row = 0; row < m_results->topLevelItemCount(); ++row) {
        text += rowLines(*m_results->topLevelItem(row)) + QLatin1Char('\n');
    }
    return text;
}

QString ProbePage::rowAddress(const QTreeWidgetItem& item) const
{
    const QTreeWidgetItem* row = &item;
    while (row->parent() != nullptr) {
        row = row->parent();
    }
    static const QRegularExpression kDotted(QStringLiteral("^\\d{1,3}(\\.\\d{1,3}){3}"));
    const QRegularExpressionMatch match = kDotted.match(row->text(0));
    if (match.hasMatch()) {
        return match.captured();
    }
    // An IPv6 responder's text ends at the blank before a hop's time, or with the reply's cell.
    const QString first = row->text(0).section(QLatin1Char(' '), 0, 0);
    return ParseIpv6Literal(first.toUtf8().constData()) ? first : QString();
}

} // namespace hopwise
