#include "trace/trace_route_page.h"

#include <QCheckBox>
#include <QTreeWidget>
#include <string>

#include "res/resource_ids.h"
#include "res/texts.h"
#include "settings/host_history.h"
#include "trace/trace_route_thread.h"
#include "widgets/qt_text.h"

namespace hopwise {
namespace {

// The hidden Max Delay field is disabled with the others: a run takes no input.
constexpr int kInputs[] = {res::kTraceGo, res::kTraceMaxHop, res::kTraceMaxDelay, res::kTraceHost,
                           res::kTraceResolveIp};

// GO, Cancel, host, status line, Dest IP line, Max Hop spinner, hop tree.
constexpr ProbePageControls kControls{res::kTraceGo,     res::kTraceCancel, res::kTraceHost,
                                      res::kTraceStatus, res::kTraceDestIp, res::kTraceMaxHopSpin,
                                      res::kTraceHopTree};
constexpr ProbePageShape kShape{res::TraceRoutePageTemplate, kControls, kInputs,
                                res::kCmdClearHopwiseCache, kTraceHistorySection};

} // namespace

CTraceRoutePage::CTraceRoutePage(SettingsStore& store)
    : ProbePageOf(store, kShape, TraceRouteThread)
{
}

bool CTraceRoutePage::OnInitPage()
{
    ProbePage::OnInitPage();
    control<QCheckBox>(res::kTraceResolveIp)->setChecked(m_bResolveIP);
    return true;
}

void CTraceRoutePage::takeInputs()
{
    takeMaxHop();
    m_bResolveIP = control<QCheckBox>(res::kTraceResolveIp)->isChecked();
}

void CTraceRoutePage::addResult(const ProbeResult& result)
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
        hop->addChild(new QTreeWidgetItem(QStringList(QString::fromUtf8(result.m_name))));
    }
    resultView().addTopLevelItem(hop);
}

QString CTraceRoutePage::runSettingsText() const
{
    return QStringLiteral("%1 %2, %3 %4, %5 %6")
        .arg(FromUtf8(res::kSettingMaxHop))
        .arg(m_iMaxHopCount.load())
        .arg(FromUtf8(res::kSettingTimeout))
        .arg(m_iHopTimeout.load())
        .arg(FromUtf8(res::kSettingResolveIp))
        .arg(m_bResolveIP.load() ? 1 : 0);
}

} // namespace hopwise
