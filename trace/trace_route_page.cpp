#include "trace/trace_route_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>
#include <system_error>

#include "widgets/up_down_control.h"
#include "res/resource_ids.h"
#include "res/texts.h"
#include "settings/host_history.h"
#include "res/stored_names.h"
#include "settings/settings_store.h"
#include "trace/trace_route_thread.h"

namespace hopwise {
namespace {

QString fromRes(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

CTraceRoutePage::CTraceRoutePage(SettingsStore& store) : m_store(store)
{
    LoadSettings(m_store, static_cast<TraceRouteSettings&>(*this));
}

CTraceRoutePage::~CTraceRoutePage()
{
    // Before anything of the page goes: the worker reads the page and sends to it.
    m_run.reset();
    m_pWindow = nullptr;
    SaveSettings(m_store, static_cast<const TraceRouteSettings&>(*this));
}

bool CTraceRoutePage::Create(QWidget* parent)
{
    setParent(parent);
    m_controls = BuildDialogControls(res::TraceRoutePageTemplate(), this);
    m_go = m_controls.get<QPushButton>(res::kTraceGo);
    m_hopTree = m_controls.get<QTreeWidget>(res::kTraceHopTree);
    m_maxHop = m_controls.get<QLineEdit>(res::kTraceMaxHop);
    m_maxDelay = m_controls.get<QLineEdit>(res::kTraceMaxDelay);
    m_maxHopSpin = m_controls.get<UpDownControl>(res::kTraceMaxHopSpin);
    m_destIp = m_controls.get<QLabel>(res::kTraceDestIp);
    m_host = m_controls.get<QComboBox>(res::kTraceHost);
    m_status = m_controls.get<QLabel>(res::kTraceStatus);
    m_cancel = m_controls.get<QPushButton>(res::kTraceCancel);
    m_resolveIp = m_controls.get<QCheckBox>(res::kTraceResolveIp);

    connect(m_go, &QPushButton::clicked, this, [this] { OnCommand(res::kTraceGo); });
    connect(m_cancel, &QPushButton::clicked, this, [this] { OnCommand(res::kTraceCancel); });
    BindCancelCommand(*this, [this] { OnCommand(res::kCmdCancel); });
    return OnInitPage();
}

bool CTraceRoutePage::OnInitPage()
{
    LoadHistoryInto(*m_host, m_store, kTraceHistorySection);
    ShowMaxHop(*m_maxHopSpin, m_iMaxHopCount);
    m_resolveIp->setChecked(m_bResolveIP);
    return true;
}

void CTraceRoutePage::OnCommand(int id)
{
    switch (id) {
    case res::kTraceGo:
        OnGo();
        break;
    case res::kTraceCancel:
    case res::kCmdCancel:
        OnCancelTrace();
        break;
    case res::kCmdClearHopwiseCache:
        OnClearHistory();
        break;
    default:
        // The OK command (Enter in a field) starts nothing.
        break;
    }
}

void CTraceRoutePage::OnGo()
{
    // The previous run has handled its last message; at most its thread is still returning.
    m_run.reset();

    m_iMaxHopCount = TakeMaxHop(*m_maxHopSpin);
    m_bResolveIP = m_resolveIp->isChecked();

    for (QWidget* input : {static_cast<QWidget*>(m_go), static_cast<QWidget*>(m_maxHop),
                           static_cast<QWidget*>(m_maxDelay), static_cast<QWidget*>(m_host),
                           static_cast<QWidget*>(m_resolveIp)}) {
        input->setEnabled(false);
    }

    const QString host = m_host->currentText();
    TakeHostText(m_szHost, host);
    RecordHostIn(*m_host, m_store, kTraceHistorySection, host);

    m_status->hide();
    m_bCancel = false;
    m_cancel->show();
    m_cancel->setEnabled(true);

    m_hopTree->clear();

    try {
        m_run = StartProbeRun(static_cast<TraceRouteInputs&>(*this), TraceRouteThread,
                              static_cast<ProbeMessageTarget&>(*this), QueuedPoster(this));
    } catch (const std::system_error&) {
        // No thread, no run: end it here as a worker would, so the page doesn't hang in
        // "running".
        m_pWindow = nullptr;
        OnWorkerMessage(WM_PROBE_FINISHED, -1, 0);
    }
}

void CTraceRoutePage::OnCancelTrace()
{
    m_bCancel = true;
    m_cancel->setEnabled(false);
}

void CTraceRoutePage::OnClearHistory()
{
    ClearHistoryOf(*m_host, m_store, kTraceHistorySection);
}

bool CTraceRoutePage::event(QEvent* event)
{
    return RunChannelCall(*this, event) || QWidget::event(event);
}

std::intptr_t CTraceRoutePage::sendMessage(std::uint32_t message, std::intptr_t wParam,
                                           std::intptr_t lParam)
{
    return OnWorkerMessage(message, wParam, lParam);
}

std::intptr_t CTraceRoutePage::OnWorkerMessage(std::uint32_t message, std::intptr_t wParam,
                                               std::intptr_t /*lParam*/)
{
    switch (message) {
    case WM_PROBE_FINISHED:
        m_cancel->hide();
        m_status->setText(fromRes(m_bCancel ? res::kStatusCancelled : res::kStatusDone));
        m_status->show();
        for (QWidget* input : {static_cast<QWidget*>(m_go), static_cast<QWidget*>(m_maxHop),
                               static_cast<QWidget*>(m_maxDelay), static_cast<QWidget*>(m_host),
                               static_cast<QWidget*>(m_resolveIp)}) {
            input->setEnabled(true);
        }
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
    case WM_PROBE_DESTINATION: {
        const char16_t* text = DestinationTextOf(wParam);
        m_destIp->setText(QString::fromUtf16(text));
        break;
    }
    case WM_PROBE_RESULT:
        addHop(ProbeResultOf(wParam));
        break;
    default:
        break;
    }
    return 0;
}

void CTraceRoutePage::addHop(const ProbeResult& result)
{
    // Responder texts are UTF-8 as the resolver hands them over; "%s" takes UTF-8 too.
    const QByteArray address =
        result.m_address != nullptr
            ? QByteArray(result.m_address)
            : QByteArray(res::kNoResponse.data(), static_cast<qsizetype>(res::kNoResponse.size()));
    const std::string format(res::kHopFormat);
    auto* hop = new QTreeWidgetItem(QStringList(QString::asprintf(
        format.c_str(), address.constData(), static_cast<int>(result.m_reply->roundTripTime))));
    if (result.m_address != nullptr && result.m_name != nullptr) {
        hop->addChild(new QTreeWidgetItem(QStringList(FromWorkerText(result.m_name))));
    }
    m_hopTree->addTopLevelItem(hop);
}

} // namespace hopwise
