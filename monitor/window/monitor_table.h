#pragma once

// The monitor's table: one row per hop of a MonitorModel, and the delegate that paints a hop's
// latency sparkline.

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <map>

#include "monitor/monitor_model.h"

namespace hopwise {

class MonitorTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        kHop,
        kAddress,
        kName,
        kLoss,
        kSent,
        kReceived,
        kLast,
        kAverage,
        kBest,
        kWorst,
        kStdev,
        kJitter,
        kLatency,
        kColumnCount
    };

    explicit MonitorTableModel(const MonitorModel& model, QObject* parent = nullptr);

    // Shows the model as it is now: rows added or gone, every cell again.
    void refresh();
    // A responder's name came back.
    void setName(const HostAddress& address, const QString& name);
    // Points at another model (a session opened in its place).
    void setModel(const MonitorModel& model);

    const MonitorModel::HopRow& hopRow(int row) const { return m_model->rows()[std::size_t(row)]; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QString tooltip(const MonitorModel::HopRow& row) const;

    const MonitorModel* m_model;
    int m_shownRows = 0;
    std::map<HostAddress, QString> m_names;
};

// Paints the last round trips of a hop as a line, lost probes as red ticks at the foot.
class SparkDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

} // namespace hopwise
