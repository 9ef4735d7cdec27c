#include "ping/ping_page.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>
#include <limits>
#include <system_error>

#include "widgets/up_down_control.h"
#include "ping/ping_thread.h"
#include "res/resource_ids.h"
#include "res/texts.h"
#include "settings/host_history.h"
#include "res/stored_names.h"
#include "settings/settings_store.h"

namespace hopwise {
namespace {

QString fromRes(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

struct Column {
    std::string_view title;
    int width; // pixels
};
constexpr Column kColumns[] = {
    {res::kReplyColumnIp, 110},
    {res::kReplyColumnTime, 50},
    {res::kReplyColumnTtl, 50},
};

} // namespace

std::int32_t ParseNumTrials(const QString& text)
{
    const QString lower = text.toLower();
    if (lower == u"inf" || lower == u"infinity") {
        return -1;
    }
    qsizetype at = 0;
    while (at < lower.size() && lower.at(at).isSpace()) {
        ++at;
    }
    bool negative = false;
    if (at < lower.size() && (lower.at(at) == u'-' || lower.at(at) == u'+')) {
        negative = lower.at(at) == u'-';
        ++at;
    }
    // Past 32 bits the number sticks at the nearer end of the range.
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; at < lower.size() && lower.at(at) >= u'0' && lower.at(at) <= u'9'; ++at) {
        magnitude = std::min(kLimit, magnitude * 10 + (lower.at(at).unicode() - u'0'));
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

QString FormatNumTrials(std::int32_t trials)
{
    return trials == -1 ? fromRes(res::kInfiniteTrials) : QString::number(trials);
}

CPingPage::CPingPage(SettingsStore& store) : m_store(store)
{
    LoadSettings(m_store, static_cast<PingSettings&>(*this));
}

CPingPage::~CPingPage()
{
    // Before anything of the page goes: the worker reads the page and sends to it.
    m_run.reset();
    m_pWindow = nullptr;
    SaveSettings(m_store, static_cast<const PingSettings&>(*this));
}

bool CPingPage::Create(QWidget* parent)
{
    setParent(parent);
    m_controls = BuildDialogControls(res::PingPageTemplate(), this);
    m_go = m_controls.get<QPushButton>(res::kPingGo);
    m_maxHop = m_controls.get<QLineEdit>(res::kPingMaxHop);
    m_maxHopSpin = m_controls.get<UpDownControl>(res::kPingMaxHopSpin);
    m_destIp = m_controls.get<QLabel>(res::kPingDestIp);
    m_host = m_controls.get<QComboBox>(res::kPingHost);
    m_status = m_controls.get<QLabel>(res::kPingStatus);
    m_replyList = m_controls.get<QTreeWidget>(res::kPingReplyList);
    m_cancel = m_controls.get<QPushButton>(res::kPingCancel);
    m_numTrials = m_controls.get<QLineEdit>(res::kPingNumTrials);

    connect(m_go, &QPushButton::clicked, this, [this] { OnCommand(res::kPingGo); });
    connect(m_cancel, &QPushButton::clicked, this, [this] { OnCommand(res::kPingCancel); });
    BindCancelCommand(*this, [this] { OnCommand(res::kCmdCancel); });
    return OnInitPage();
}

bool CPingPage::OnInitPage()
{
    LoadHistoryInto(*m_host, m_store, kPingHistorySection);
    ShowMaxHop(*m_maxHopSpin, m_iMaxHopCount);

    QStringList titles;
    for (const Column& column : kColumns) {
        titles << fromRes(column.title);
    }
    m_replyList->setColumnCount(static_cast<int>(titles.size()));
    m_replyList->setHeaderLabels(titles);
    m_replyList->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
        m_replyList->header()->resizeSection(i, kColumns[i].width);
    }

    m_numTrials->setText(FormatNumTrials(m_iNumTrials));
    return true;
}

void CPingPage::OnCommand(int id)
{
    switch (id) {
    case res::kPingGo:
        OnGo();
        break;
    case res::kPingCancel:
    case res::kCmdCancel:
        OnCancelPing();
        break;
    case res::kCmdClearPingCache:
        OnClearHistory();
        break;
    default:
        // The OK command (Enter in a field) starts nothing.
        break;
    }
}

void CPingPage::setInputsEnabled(bool enabled)
{
    for (QWidget* input : {static_cast<QWidget*>(m_go), static_cast<QWidget*>(m_maxHop),
                           static_cast<QWidget*>(m_numTrials), static_cast<QWidget*>(m_host)}) {
        input->setEnabled(enabled);
    }
}

void CPingPage::OnGo()
{
    // The previous run has handled its last message; at most its thread is still returning.
    m_run.reset();

    m_iNumTrials = ParseNumTrials(m_numTrials->text());
    m_numTrials->setText(FormatNumTrials(m_iNumTrials));
    m_iMaxHopCount = TakeMaxHop(*m_maxHopSpin);

    setInputsEnabled(false);

    const QString host = m_host->currentText();
    TakeHostText(m_szHost, host);
    RecordHostIn(*m_host, m_store, kPingHistorySection, host);

    m_status->hide();
    m_bCancel = false;
    m_cancel->show();
    m_cancel->setEnabled(true);

    m_replyList->clear();

    try {
        m_run = StartProbeRun(static_cast<PingInputs&>(*this), PingThread,
                              static_cast<ProbeMessageTarget&>(*this), QueuedPoster(this));
    } catch (const std::system_error&) {
        // No thread, no run: end it here as a worker would, so the page doesn't hang in
        // "running".
        m_pWindow = nullptr;
        OnWorkerMessage(WM_PROBE_FINISHED, -1, 0);
    }
}

void CPingPage::OnCancelPing()
{
    m_bCancel = true;
    m_cancel->setEnabled(false);
}

void CPingPage::OnClearHistory()
{
    ClearHistoryOf(*m_host, m_store, kPingHistorySection);
}

bool CPingPage::event(QEvent* event)
{
    return RunChannelCall(*this, event) || QWidget::event(event);
}

std::intptr_t CPingPage::sendMessage(std::uint32_t message, std::intptr_t wParam,
                                     std::intptr_t lParam)
{
    return OnWorkerMessage(message, wParam, lParam);
}

std::intptr_t CPingPage::OnWorkerMessage(std::uint32_t message, std::intptr_t wParam,
                                         std::intptr_t /*lParam*/)
{
    switch (message) {
    case WM_PROBE_FINISHED:
        m_cancel->hide();
        m_status->setText(fromRes(m_bCancel ? res::kStatusCancelled : res::kStatusDone));
        m_status->show();
        setInputsEnabled(true);
        break;
    case WM_PROBE_UNRESOLVED: {
        // The page may be gone when the box returns: nothing of it is touched afterwards.
        const PageMessageBox box = m_messageBox;
        box(this, fromRes(res::kCantResolveName));
        break;
    }
    case WM_PROBE_NOT_PERMITTED: {
        const PageMessageBox box = m_messageBox;
        box(this, FromWorkerText(NotPermittedHintOf(wParam)));
        break;
    }
    case WM_PROBE_DESTINATION:
        m_destIp->setText(QString::fromUtf16(DestinationTextOf(wParam)));
        break;
    case WM_PROBE_RESULT:
        AddReplyRow(ProbeResultOf(wParam));
        break;
    default:
        break;
    }
    return 0;
}

void CPingPage::AddReplyRow(const ProbeResult& result)
{
    const EchoReply& reply = *result.m_reply;
    auto* row = new QTreeWidgetItem(QStringList{
        result.m_address != nullptr ? FromWorkerText(result.m_address) : fromRes(res::kNoResponse),
        QString::number(static_cast<int>(reply.roundTripTime)),
        QString::number(static_cast<int>(reply.options.ttl)),
    });
    m_replyList->insertTopLevelItem(0, row);
    // The limit is never negative (see the constructor), so this ends at an empty list at worst.
    while (m_replyList->topLevelItemCount() > std::max(0, m_iMaxItemsInList)) {
        delete m_replyList->takeTopLevelItem(m_replyList->topLevelItemCount() - 1);
    }
}

} // namespace hopwise
