#pragma once

// The monitor's timeline: a hop's round trip over clock time (Qt Charts), its lost probes and
// route changes marked, a shown range (the last 10 minutes, hour, 24 hours, or all) and a scroll
// bar that goes back in time. At most kBuckets points are drawn whatever the range holds.

#include <QWidget>
#include <cstdint>
#include <vector>

#include "monitor/monitor_model.h"

class QButtonGroup;
class QChart;
class QChartView;
class QDateTimeAxis;
class QLineSeries;
class QScatterSeries;
class QScrollBar;
class QValueAxis;

namespace hopwise {

class MonitorChart : public QWidget {
    Q_OBJECT
public:
    static constexpr int kBuckets = 600;
    // The ranges of the buttons, in milliseconds; 0 shows everything.
    static constexpr std::array<std::int64_t, 4> kRangesMs{600'000, 3'600'000, 86'400'000, 0};

    explicit MonitorChart(QWidget* parent = nullptr);

    // Draws hop of model again over the shown range.
    void redraw(const MonitorModel& model, std::int32_t hop);
    // Picks a range by its index in kRangesMs.
    void setRange(int index);
    QChartView& view() const { return *m_view; }
    QScrollBar& scrollBar() const { return *m_scroll; }

signals:
    // The range or the scrolled position changed: the chart wants drawing again.
    void shownRangeChanged();

private:
    QChartView* m_view;
    QLineSeries* m_roundTrip;
    QScatterSeries* m_lost;
    QScatterSeries* m_changes;
    QDateTimeAxis* m_time;
    QValueAxis* m_ms;
    QScrollBar* m_scroll;
    QButtonGroup* m_ranges;
    std::int64_t m_rangeMs = kRangesMs[0];
    std::vector<MonitorModel::ChartPoint> m_points; // kept for the next draw's allocation
};

} // namespace hopwise
