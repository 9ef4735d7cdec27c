#include "monitor/window/monitor_table.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "res/texts.h"
#include "widgets/qt_text.h"

namespace hopwise {
namespace {

QString Milliseconds(double microseconds)
{
    return QString::number(microseconds / 1000, 'f', 1);
}

QString Address(const HostAddress& address)
{
    return QString::fromUtf8(FormatAddress(address));
}

// The background of a row that needs a look: the route changed, or loss begins there.
const QColor kRouteChangedColor(255, 236, 170);
const QColor kLossBeginsColor(255, 205, 200);

} // namespace

MonitorTableModel::MonitorTableModel(const MonitorModel& model, QObject* parent)
    : QAbstractTableModel(parent), m_model(&model)
{
}

void MonitorTableModel::setModel(const MonitorModel& model)
{
    m_model = &model;
    refresh();
}

void MonitorTableModel::refresh()
{
    const int rows = static_cast<int>(m_model->rows().size());
    if (rows != m_shownRows) {
        beginResetModel();
        m_shownRows = rows;
        endResetModel();
    } else if (rows > 0) {
        emit dataChanged(index(0, 0), index(rows - 1, kColumnCount - 1));
    }
}

void MonitorTableModel::setName(const HostAddress& address, const QString& name)
{
    m_names[address] = name;
    if (m_shownRows > 0) {
        emit dataChanged(index(0, kName), index(m_shownRows - 1, kName));
    }
}

int MonitorTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_shownRows;
}

int MonitorTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant MonitorTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < kColumnCount) {
        return FromUtf8(res::kMonitorColumns[std::size_t(section)]);
    }
    return {};
}

QString MonitorTableModel::tooltip(const MonitorModel::HopRow& row) const
{
    QStringList lines;
    if (row.note == HopNote::RateLimited) {
        lines << FromUtf8(res::kMonitorRateLimitedTip);
    } else if (row.note == HopNote::LossBegins) {
        lines << FromUtf8(res::kMonitorLossBeginsTip);
    }
    if (row.routeChanged) {
        const auto& changes = m_model->routeChanges();
        const auto change = std::find_if(changes.rbegin(), changes.rend(),
                                         [&row](const auto& c) { return c.hop == row.hop; });
        if (change != changes.rend()) {
            lines << FromUtf8(res::kMonitorRouteChangedTip)
                         .arg(QDateTime::fromMSecsSinceEpoch(change->clockMs)
                                  .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                              Address(change->from), Address(change->to));
        }
    }
    // The label stack of the hop's last report that carried one, top entry first.
    for (const MplsLabelEntry& entry : m_model->statistics(row.hop).mpls) {
        lines << FromUtf8(res::kMonitorMplsTip)
                     .arg(entry.label)
                     .arg(entry.trafficClass)
                     .arg(entry.bottom ? 1 : 0)
                     .arg(entry.ttl);
    }
    return lines.join(QLatin1Char('\n'));
}

QVariant MonitorTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_shownRows) {
        return {};
    }
    const MonitorModel::HopRow& row = hopRow(index.row());
    const bool replied = row.received > 0;
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case kHop:
            return row.hop;
        case kAddress: {
            QStringList addresses;
            for (const HostAddress& address : row.responders) {
                addresses << Address(address);
            }
            return addresses.join(QLatin1Char('\n'));
        }
        case kName: {
            QStringList names;
            for (const HostAddress& address : row.responders) {
                const auto found = m_names.find(address);
                names << (found != m_names.end() ? found->second : QString());
            }
            return names.join(QLatin1Char('\n'));
        }
        case kLoss:
            return QString::number(row.lossPercent, 'f', 1);
        case kSent:
            return row.sent;
        case kReceived:
            return row.received;
        case kLast:
            return replied ? Milliseconds(row.lastUs) : QString();
        case kAverage:
            return replied ? Milliseconds(row.averageUs) : QString();
        case kBest:
            return replied ? Milliseconds(row.bestUs) : QString();
        case kWorst:
            return replied ? Milliseconds(row.worstUs) : QString();
        case kStdev:
            return replied ? Milliseconds(row.stdevUs) : QString();
        case kJitter:
            return replied ? Milliseconds(row.jitterUs) : QString();
        default:
            return {};
        }
    case Qt::AccessibleTextRole:
        if (index.column() == kLatency) {
            const auto lost = std::count_if(row.spark.end() - row.sparkCount, row.spark.end(),
                                            [](float ms) { return ms < 0; });
            return FromUtf8(res::kMonitorSparkFormat).arg(row.sparkCount).arg(lost);
        }
        return {};
    case Qt::TextAlignmentRole:
        return index.column() == kAddress || index.column() == kName
                   ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                   : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    case Qt::BackgroundRole:
        if (row.routeChanged) {
            return QBrush(kRouteChangedColor);
        }
        if (row.note == HopNote::LossBegins) {
            return QBrush(kLossBeginsColor);
        }
        return {};
    case Qt::ToolTipRole: {
        const QString text = tooltip(row);
        return text.isEmpty() ? QVariant() : QVariant(text);
    }
    default:
        return {};
    }
}

void SparkDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const
{
    QStyledItemDelegate::paint(painter, option, index);
    const auto* table = qobject_cast<const MonitorTableModel*>(index.model());
    if (table == nullptr) {
        return;
    }
    const MonitorModel::HopRow& row = table->hopRow(index.row());
    const int count = row.sparkCount;
    if (count == 0) {
        return;
    }
    const float* first = row.spark.data() + (row.spark.size() - std::size_t(count));
    const float top = std::max(1.0F, *std::max_element(first, first + count));
    const QRectF area = QRectF(option.rect).adjusted(3, 3, -3, -3);
    const double step = area.width() / double(row.spark.size() - 1);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    QPainterPath line;
    bool drawing = false;
    for (int i = 0; i < count; ++i) {
        const double x = area.right() - step * (count - 1 - i);
        if (first[i] < 0) {
            painter->setPen(QPen(Qt::red, 1.5));
            painter->drawLine(QPointF(x, area.bottom()), QPointF(x, area.bottom() - 4));
            drawing = false;
            continue;
        }
        const QPointF point(x, area.bottom() - area.height() * double(first[i] / top));
        if (drawing) {
            line.lineTo(point);
        } else {
            line.moveTo(point);
            drawing = true;
        }
    }
    painter->setPen(QPen(option.palette.color(QPalette::Highlight), 1.2));
    painter->drawPath(line);
    painter->restore();
}

QSize SparkDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    return QStyledItemDelegate::sizeHint(option, index).expandedTo(QSize(100, 20));
}

} // namespace hopwise
