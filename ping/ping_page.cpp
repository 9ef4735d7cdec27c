#include "ping/ping_page.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QTreeWidget>
#include <algorithm>
#include <limits>

#include "ping/ping_thread.h"
#include "res/resource_ids.h"
#include "res/texts.h"
#include "settings/host_history.h"
#include "widgets/qt_text.h"

namespace hopwise {
namespace {

constexpr int kInputs[] = {res::kPingGo, res::kPingMaxHop, res::kPingNumTrials, res::kPingHost};

// GO, Cancel, host, status line, Dest IP line, Max Hop spinner, reply list.
constexpr ProbePageControls kControls{res::kPingGo,       res::kPingCancel, res::kPingHost,
                                      res::kPingStatus,   res::kPingDestIp, res::kPingMaxHopSpin,
                                      res::kPingReplyList};
constexpr ProbePageShape kShape{res::PingPageTemplate, kControls, kInputs, res::kCmdClearPingCache,
                                kPingHistorySection};

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
    if (lower == FromUtf8(res::kInfiniteTrials) || lower == FromUtf8(res::kInfiniteTrialsLong)) {
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
    return trials == -1 ? FromUtf8(res::kInfiniteTrials) : QString::number(trials);
}

CPingPage::CPingPage(SettingsStore& store) : ProbePageOf(store, kShape, PingThread) {}

bool CPingPage::OnInitPage()
{
    ProbePage::OnInitPage();

    QTreeWidget& list = resultView();
    QStringList titles;
    for (const Column& column : kColumns) {
        titles << FromUtf8(column.title);
    }
    list.setColumnCount(static_cast<int>(titles.size()));
    list.setHeaderLabels(titles);
    list.header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
        list.header()->resizeSection(i, kColumns[i].width);
    }

    control<QLineEdit>(res::kPingNumTrials)->setText(FormatNumTrials(m_iNumTrials));
    return true;
}

void CPingPage::takeInputs()
{
    auto* numTrials = control<QLineEdit>(res::kPingNumTrials);
    m_iNumTrials = ParseNumTrials(numTrials->text());
    numTrials->setText(FormatNumTrials(m_iNumTrials));
    takeMaxHop();
}

void CPingPage::AddReplyRow(const ProbeResult& result)
{
    const EchoReply& reply = *result.m_reply;
    auto* row = new QTreeWidgetItem(QStringList{
        result.m_address != nullptr ? QString::fromUtf8(result.m_address)
                                    : FromUtf8(res::kNoResponse),
        QString::number(static_cast<int>(reply.roundTripTime)),
        QString::number(static_cast<int>(reply.options.ttl)),
    });
    QTreeWidget& list = resultView();
    list.insertTopLevelItem(0, row);
    // The IP column is sized for a dotted address; an IPv6 one widens it (the list then scrolls
    // sideways) rather than losing its end. It never narrows: a width the user chose stays.
    // Measuring every row costs more than a reply on loopback takes, so only a row whose text
    // comes near the column's edge (the cell's margins aside) is the cue to.
    const int width = list.columnWidth(0);
    const QFontMetrics metrics = list.fontMetrics();
    if (metrics.horizontalAdvance(row->text(0)) + 2 * metrics.averageCharWidth() >= width) {
        list.resizeColumnToContents(0);
        list.setColumnWidth(0, std::max(width, list.columnWidth(0)));
    }
    // Loaded as 0 or more; max() keeps the loop bounded whatever the member holds.
    while (list.topLevelItemCount() > std::max(0, m_iMaxItemsInList)) {
        delete list.takeTopLevelItem(list.topLevelItemCount() - 1);
    }
}

QString CPingPage::runSettingsText() const
{
    return QStringLiteral("%1 %2, %3 %4, %5 %6, %7 %8")
        .arg(FromUtf8(res::kSettingMaxHop))
        .arg(m_iMaxHopCount.load())
        .arg(FromUtf8(res::kSettingNumTrials))
        .arg(FormatNumTrials(m_iNumTrials))
        .arg(FromUtf8(res::kSettingTimeout))
        .arg(m_iHopTimeout.load())
        .arg(FromUtf8(res::kSettingMaxItems))
        .arg(m_iMaxItemsInList);
}

} // namespace hopwise
