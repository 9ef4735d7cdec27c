#include "monitor/window/monitor_chart.h"

#include <QBoxLayout>
#include <QButtonGroup>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QLineSeries>
#include <QPushButton>
#include <QScatterSeries>
#include <QScrollBar>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "res/texts.h"
#include "widgets/qt_text.h"

namespace hopwise {
namespace {

constexpr int kScrollStepSeconds = 60;

} // namespace

MonitorChart::MonitorChart(QWidget* parent)
    : QWidget(parent), m_view(new QChartView(this)), m_roundTrip(new QLineSeries(this)),
      m_lost(new QScatterSeries(this)), m_changes(new QScatterSeries(this)),
      m_time(new QDateTimeAxis(this)), m_ms(new QValueAxis(this)),
      m_scroll(new QScrollBar(Qt::Horizontal, this)), m_ranges(new QButtonGroup(this))
{
    auto* chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setMargins(QMargins(4, 4, 4, 4));
    m_roundTrip->setName(FromUtf8(res::kMonitorSeriesRoundTrip));
    m_lost->setName(FromUtf8(res::kMonitorSeriesLost));
    m_lost->setColor(Qt::red);
    m_lost->setMarkerSize(7);
    m_lost->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    m_changes->setName(FromUtf8(res::kMonitorSeriesRouteChange));
    m_changes->setColor(QColor(230, 150, 0));
    m_changes->setMarkerSize(11);
    m_changes->setMarkerShape(QScatterSeries::MarkerShapeTriangle);
    // Far more points than pixels are never drawn (see redraw), so no series needs OpenGL.
    for (QXYSeries* series : std::initializer_list<QXYSeries*>{m_roundTrip, m_lost, m_changes}) {
        chart->addSeries(series);
    }
    m_time->setFormat(QStringLiteral("HH:mm:ss"));
    m_time->setTickCount(6);
    m_ms->setLabelFormat(QStringLiteral("%.0f"));
    m_ms->setTitleText(QStringLiteral("ms"));
    chart->addAxis(m_time, Qt::AlignBottom);
    chart->addAxis(m_ms, Qt::AlignLeft);
    for (QXYSeries* series : std::initializer_list<QXYSeries*>{m_roundTrip, m_lost, m_changes}) {
        series->attachAxis(m_time);
        series->attachAxis(m_ms);
    }
    // The view comes with a chart of its own and only lets go of it for ours: it is ours to delete.
    QChart* const placeholder = m_view->chart();
    m_view->setChart(chart);
    delete placeholder;
    m_view->setRenderHint(QPainter::Antialiasing);
    m_view->setObjectName(QStringLiteral("monitorChart"));
    m_view->setAccessibleName(FromUtf8(res::kAccessibleMonitorChart));
    m_view->setFocusPolicy(Qt::StrongFocus);
    m_view->setMinimumHeight(160);

    auto* buttons = new QHBoxLayout;
    for (std::size_t i = 0; i < kRangesMs.size(); ++i) {
        auto* button = new QPushButton(FromUtf8(res::kMonitorRanges[i]), this);
        button->setCheckable(true);
        button->setObjectName(QStringLiteral("range%1").arg(i));
        button->setAccessibleDescription(FromUtf8(res::kAccessibleMonitorRanges));
        m_ranges->addButton(button, int(i));
        buttons->addWidget(button);
    }
    m_ranges->button(0)->setChecked(true);
    buttons->addStretch();
    connect(m_ranges, &QButtonGroup::idClicked, this, &MonitorChart::setRange);

    m_scroll->setObjectName(QStringLiteral("monitorScroll"));
    m_scroll->setAccessibleName(FromUtf8(res::kAccessibleMonitorScroll));
    m_scroll->setSingleStep(kScrollStepSeconds);
    connect(m_scroll, &QScrollBar::valueChanged, this, &MonitorChart::shownRangeChanged);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(buttons);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_scroll);
}

void MonitorChart::setRange(int index)
{
    if (index < 0 || index >= int(kRangesMs.size())) {
        return;
    }
    m_ranges->button(index)->setChecked(true);
    m_rangeMs = kRangesMs[std::size_t(index)];
    m_scroll->setValue(m_scroll->maximum());
    emit shownRangeChanged();
}

void MonitorChart::redraw(const MonitorModel& model, std::int32_t hop)
{
    const std::int64_t first = model.firstMs();
    const std::int64_t last = std::max(model.lastMs(), first + 1000);
    // The scroll bar counts seconds from the first sample; at its end it follows the newest.
    const std::int64_t range = m_rangeMs == 0 ? last - first : m_rangeMs;
    const int scrollEnd = int(std::max<std::int64_t>(0, (last - first - range) / 1000));
    const bool following = m_scroll->value() >= m_scroll->maximum();
    {
        const QSignalBlocker quiet(m_scroll);
        m_scroll->setRange(0, scrollEnd);
        m_scroll->setPageStep(int(range / 1000));
        if (following) {
            m_scroll->setValue(scrollEnd);
        }
    }
    m_scroll->setEnabled(scrollEnd > 0);
    const std::int64_t from = first + std::int64_t(m_scroll->value()) * 1000;
    const std::int64_t to = from + range;

    model.series(hop, from, to, m_points);
    // Points that share a bucket are drawn as one: their average round trip, their loss.
    const double bucketMs = double(range) / kBuckets;
    QList<QPointF> line;
    QList<QPointF> lost;
    line.reserve(kBuckets);
    double top = 1;
    double sum = 0;
    double lossSum = 0;
    int answered = 0;
    float lastMs = -1;
    for (std::size_t i = 0; i < m_points.size();) {
        const auto bucket = std::int64_t(double(m_points[i].clockMs - from) / bucketMs);
        double bucketSum = 0;
        int bucketAnswered = 0;
        bool bucketLost = false;
        std::int64_t clock = m_points[i].clockMs;
        for (; i < m_points.size() &&
               std::int64_t(double(m_points[i].clockMs - from) / bucketMs) == bucket;
             ++i) {
            const auto& point = m_points[i];
            lossSum += point.lossPercent;
            bucketLost = bucketLost || point.lossPercent > 0;
            if (point.lossPercent < 100) {
                bucketSum += point.averageMs;
                ++bucketAnswered;
                sum += point.averageMs;
                ++answered;
                lastMs = point.averageMs;
                top = std::max(top, double(point.maxMs));
            }
            clock = point.clockMs;
        }
        if (bucketAnswered > 0) {
            line.append(QPointF(double(clock), bucketSum / bucketAnswered));
        }
        if (bucketLost) {
            lost.append(QPointF(double(clock), 0));
        }
    }
    QList<QPointF> changes;
    const double changeY = top * 1.1;
    for (const auto& change : model.routeChanges()) {
        if (change.hop == hop && change.clockMs >= from && change.clockMs <= to) {
            changes.append(QPointF(double(change.clockMs), changeY));
        }
    }
    m_roundTrip->replace(line);
    m_lost->replace(lost);
    m_changes->replace(changes);
    m_time->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(to));
    m_time->setFormat(range > 86'400'000 ? QStringLiteral("MM-dd HH:mm")
                                         : QStringLiteral("HH:mm:ss"));
    m_ms->setRange(0, std::ceil(top * 1.2));

    const QString description = answered == 0
                                    ? FromUtf8(res::kMonitorChartEmpty).arg(hop)
                                    : FromUtf8(res::kMonitorChartDescription)
                                          .arg(hop)
                                          .arg(double(lastMs), 0, 'f', 1)
                                          .arg(sum / answered, 0, 'f', 1)
                                          .arg(lossSum / double(m_points.size()), 0, 'f', 1);
    m_view->setAccessibleDescription(description);
}

} // namespace hopwise
