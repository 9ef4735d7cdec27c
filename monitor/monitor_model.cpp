#include "monitor/monitor_model.h"

#include <algorithm>
#include <cmath>

namespace hopwise {

namespace {

constexpr std::int64_t kMinuteMs = 60'000;
// Route changes kept: when twice this many are held, the older half goes.
constexpr std::size_t kChangesKept = 2048;
// Loss "continues" at a later hop when it is at most this many points below.
constexpr double kLossSlackPoints = 5.0;

float ms(double us)
{
    return static_cast<float>(us / 1000.0);
}

std::int64_t minuteOf(std::int64_t clockMs)
{
    const std::int64_t minute = clockMs / kMinuteMs;
    return (clockMs < 0 && clockMs % kMinuteMs != 0 ? minute - 1 : minute) * kMinuteMs;
}

} // namespace

template <typename T> bool MonitorModel::Ring<T>::push(const T& item)
{
    if (size < items.size()) {
        items[(first + size) % items.size()] = item;
        ++size;
        return false;
    }
    items[first] = item; // full: the oldest makes way
    first = (first + 1) % items.size();
    return true;
}

MonitorModel::MonitorModel(const MonitorModelOptions& options) : m_options(options)
{
    m_options.detailSamples = std::max<std::uint32_t>(1, m_options.detailSamples);
    m_options.minutesKept = std::max<std::uint32_t>(1, m_options.minutesKept);
    m_changes.reserve(2 * kChangesKept);
}

void MonitorModel::setDestination(const HostAddress& destination)
{
    m_destination = destination;
}

MonitorModel::Hop& MonitorModel::hop(std::int32_t number)
{
    while (static_cast<std::int32_t>(m_hops.size()) < number) {
        Hop& made = m_hops.emplace_back();
        made.totals.hop = static_cast<std::int32_t>(m_hops.size());
        made.row.hop = made.totals.hop;
        made.detail.items.resize(m_options.detailSamples);
        made.minutes.items.resize(m_options.minutesKept);
    }
    return m_hops[static_cast<std::size_t>(number - 1)];
}

void MonitorModel::add(const MonitorSample& sample)
{
    if (sample.hop < 1 || sample.hop > m_options.maxHops) {
        return;
    }
    Hop& at = hop(sample.hop);
    const bool answered = sample.answered && sample.responder;
    const bool newResponder =
        at.totals.add(answered, sample.responder, sample.roundTripUs, sample.mpls);
    HopRow& row = at.row;
    if (newResponder) {
        row.responders.push_back(sample.responder);
    }
    std::copy(row.spark.begin() + 1, row.spark.end(), row.spark.begin());
    row.spark.back() = answered ? ms(sample.roundTripUs) : -1.0F;
    row.sparkCount = static_cast<std::uint8_t>(
        std::min<std::size_t>(row.spark.size(), static_cast<std::size_t>(row.sparkCount) + 1));
    if (answered) {
        if (at.hadReply) {
            at.jitterSum += std::fabs(static_cast<double>(sample.roundTripUs) - at.previousUs);
            ++at.jitterCount;
            if (sample.responder != at.current) {
                row.routeChanged = true;
                row.routeChangedMs = sample.clockMs;
                if (m_changes.size() == 2 * kChangesKept) {
                    m_changes.erase(m_changes.begin(), m_changes.begin() + kChangesKept);
                }
                m_changes.push_back({sample.clockMs, sample.hop, at.current, sample.responder});
            }
        }
        at.hadReply = true;
        at.previousUs = sample.roundTripUs;
        at.current = sample.responder;
        if (sample.responder == m_destination &&
            (m_destinationHop == 0 || sample.hop < m_destinationHop)) {
            m_destinationHop = sample.hop;
        }
    }

    if (at.detail.push({sample.clockMs, sample.roundTripUs, answered})) {
        at.detailWhole = false;
    }
    trimDetail(at);
    addMinute(at.minutes, sample);

    m_firstMs = m_firstMs == 0 ? sample.clockMs : std::min(m_firstMs, sample.clockMs);
    m_lastMs = std::max(m_lastMs, sample.clockMs);
    m_cycles = std::max(m_cycles, sample.cycle + 1);
    m_dirty = true;
}

void MonitorModel::trimDetail(Hop& at) const
{
    Ring<Detail>& detail = at.detail;
    const std::int64_t newest = detail.at(detail.size - 1).clockMs;
    while (detail.size > 1 && detail.at(0).clockMs < newest - m_options.detailSpanMs) {
        detail.first = (detail.first + 1) % detail.items.size();
        --detail.size;
        at.detailWhole = false;
    }
}

void MonitorModel::addMinute(Ring<Minute>& minutes, const MonitorSample& sample)
{
    const std::int64_t start = minuteOf(sample.clockMs);
    Minute* into = nullptr;
    // A probe may end after a later one of its hop: look back a little for its minute.
    for (std::size_t back = 0; back < std::min<std::size_t>(minutes.size, 4); ++back) {
        Minute& candidate = minutes.at(minutes.size - 1 - back);
        if (candidate.startMs == start) {
            into = &candidate;
            break;
        }
        if (candidate.startMs < start) {
            break;
        }
    }
    if (into == nullptr) {
        if (minutes.size != 0 && minutes.at(minutes.size - 1).startMs > start) {
            into = &minutes.at(minutes.size - 1); // older than any held: the nearest takes it
        } else {
            minutes.push({start, 0, 0, 0, 0, 0});
            into = &minutes.at(minutes.size - 1);
        }
    }
    const bool answered = sample.answered && sample.responder;
    ++into->sent;
    if (answered) {
        const float value = ms(sample.roundTripUs);
        into->minMs = into->received == 0 ? value : std::min(into->minMs, value);
        into->maxMs = into->received == 0 ? value : std::max(into->maxMs, value);
        into->sumMs += value;
        ++into->received;
    }
}

const std::vector<MonitorModel::HopRow>& MonitorModel::rows() const
{
    if (m_dirty) {
        refreshRows();
    }
    return m_rows;
}

void MonitorModel::refreshRows() const
{
    m_dirty = false;
    const std::size_t count =
        m_destinationHop != 0 ? std::min(m_hops.size(), static_cast<std::size_t>(m_destinationHop))
                              : m_hops.size();
    m_rows.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const Hop& at = m_hops[i];
        HopRow& row = m_rows[i];
        row = at.row;
        const RoundTripTally& replies = at.totals.replies;
        row.sent = at.totals.sent;
        row.received = static_cast<std::uint32_t>(replies.count);
        row.lossPercent = at.totals.lossPercent();
        row.lastUs = replies.last;
        row.bestUs = replies.count != 0 ? replies.best : 0;
        row.worstUs = replies.count != 0 ? replies.worst : 0;
        row.averageUs = replies.mean();
        row.stdevUs = replies.sampleDeviation();
        row.jitterUs = at.jitterCount != 0 ? at.jitterSum / at.jitterCount : 0;
        row.note = HopNote::None;
    }
    if (m_destinationHop == 0 || count == 0) {
        return;
    }
    const double destinationLoss = m_rows.back().lossPercent;
    const auto answering = [](const HopRow& row) { return row.received != 0; };
    if (destinationLoss == 0) {
        for (HopRow& row : m_rows) {
            if (answering(row) && row.lossPercent > 0) {
                row.note = HopNote::RateLimited;
            }
        }
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        HopRow& row = m_rows[i];
        if (!answering(row) || row.lossPercent == 0) {
            continue;
        }
        const bool continues = std::all_of(
            m_rows.begin() + static_cast<std::ptrdiff_t>(i) + 1, m_rows.end(),
            [&row, &answering](const HopRow& later) {
                return !answering(later) || later.lossPercent >= row.lossPercent - kLossSlackPoints;
            });
        if (continues) {
            row.note = HopNote::LossBegins;
            return;
        }
    }
}

void MonitorModel::series(std::int32_t hop, std::int64_t fromMs, std::int64_t toMs,
                          std::vector<ChartPoint>& out) const
{
    out.clear();
    if (hop < 1 || hop > static_cast<std::int32_t>(m_hops.size())) {
        return;
    }
    const Hop& at = m_hops[static_cast<std::size_t>(hop - 1)];
    // Minutes up to the first whole minute that every probe is held for; probes from there on.
    std::int64_t detailFrom = at.detail.size == 0 ? toMs + 1 : at.detail.at(0).clockMs;
    if (!at.detailWhole) {
        detailFrom = minuteOf(detailFrom + kMinuteMs - 1);
    }
    for (std::size_t i = 0; i < at.minutes.size; ++i) {
        const Minute& minute = at.minutes.at(i);
        if (minute.startMs >= detailFrom || minute.startMs > toMs) {
            break;
        }
        if (minute.startMs < fromMs) {
            continue;
        }
        const bool replies = minute.received != 0;
        out.push_back({minute.startMs, replies ? minute.minMs : -1.0F,
                       replies ? static_cast<float>(minute.sumMs / minute.received) : -1.0F,
                       replies ? minute.maxMs : -1.0F,
                       static_cast<float>(100.0 * (minute.sent - minute.received) / minute.sent)});
    }
    for (std::size_t i = 0; i < at.detail.size; ++i) {
        const Detail& probe = at.detail.at(i);
        if (probe.clockMs < std::max(fromMs, detailFrom) || probe.clockMs > toMs) {
            continue;
        }
        const float value = probe.answered ? ms(probe.roundTripUs) : -1.0F;
        out.push_back({probe.clockMs, value, value, value, probe.answered ? 0.0F : 100.0F});
    }
}

const HopStatistics& MonitorModel::statistics(std::int32_t hop) const
{
    return m_hops.at(static_cast<std::size_t>(hop - 1)).totals;
}

std::size_t MonitorModel::storageBytes() const
{
    std::size_t bytes = m_changes.capacity() * sizeof(RouteChange);
    for (const Hop& at : m_hops) {
        bytes +=
            sizeof(Hop) + at.detail.items.capacity() * sizeof(Detail) +
            at.minutes.items.capacity() * sizeof(Minute) +
            (at.row.responders.capacity() + at.totals.addresses.capacity()) * sizeof(HostAddress);
    }
    return bytes;
}

std::size_t MonitorModel::capacityBytes(std::int32_t hops) const
{
    // A hop's responders are not bounded by this; a handful each is assumed.
    constexpr std::size_t kRespondersPerHop = 16;
    return 2 * kChangesKept * sizeof(RouteChange) +
           static_cast<std::size_t>(hops) *
               (sizeof(Hop) + m_options.detailSamples * sizeof(Detail) +
                m_options.minutesKept * sizeof(Minute) +
                2 * kRespondersPerHop * sizeof(HostAddress));
}

} // namespace hopwise
