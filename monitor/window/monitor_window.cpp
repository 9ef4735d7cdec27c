#include "monitor/window/monitor_window.h"

#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QChartView>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QSplitter>
#include <QTableView>

#include "monitor/monitor_export.h"
#include "monitor/window/monitor_chart.h"
#include "monitor/window/monitor_table.h"
#include "res/stored_names.h"
#include "res/texts.h"
#include "settings/host_history.h"
#include "settings/settings_store.h"
#include "widgets/qt_text.h"

namespace hopwise {
namespace {

constexpr std::int32_t kMaxHop = 30;
constexpr int kMinIntervalMs = 100;
constexpr int kMaxIntervalMs = 3'600'000;
constexpr int kMinTimeoutMs = 100;
constexpr int kMaxTimeoutMs = 60'000;
constexpr int kAllRange = 3;

// A label's text without its colon names the control it stands beside.
QString ControlName(std::string_view label)
{
    QString name = FromUtf8(label);
    if (name.endsWith(QLatin1Char(':'))) {
        name.chop(1);
    }
    return name;
}

QString Plain(std::string_view menuText)
{
    return FromUtf8(menuText);
}

} // namespace

MonitorWindow::MonitorWindow(SettingsStore& store, QWidget* parent)
    : QMainWindow(parent), m_store(store), m_model(std::make_unique<MonitorModel>())
{
    setWindowTitle(FromUtf8(res::kMonitorTitle));
    setObjectName(QStringLiteral("routeMonitor"));

    auto* central = new QWidget(this);
    auto* controls = new QHBoxLayout;
    const auto addLabelled = [this, controls](std::string_view text, QWidget* control) {
        auto* label = new QLabel(FromUtf8(text), this);
        label->setBuddy(control);
        control->setAccessibleName(ControlName(text));
        controls->addWidget(label);
        controls->addWidget(control);
    };
    m_host = new QComboBox(this);
    m_host->setObjectName(QStringLiteral("monitorHost"));
    m_host->setEditable(true);
    m_host->setInsertPolicy(QComboBox::NoInsert);
    m_host->setMinimumContentsLength(24);
    for (const std::u16string& host : LoadHostHistory(store, kMonitorHistorySection)) {
        m_host->addItem(FromUtf16(host));
    }
    m_host->setEditText(QString());
    addLabelled(res::kMonitorHost, m_host);
    m_host->lineEdit()->setAccessibleName(m_host->accessibleName());
    connect(m_host->lineEdit(), &QLineEdit::returnPressed, this, &MonitorWindow::start);

    m_interval = new QDoubleSpinBox(this);
    m_interval->setObjectName(QStringLiteral("monitorInterval"));
    m_interval->setDecimals(1);
    m_interval->setRange(kMinIntervalMs / 1000.0, kMaxIntervalMs / 1000.0);
    m_interval->setSingleStep(0.1);
    m_interval->setValue(
        std::clamp(store.GetSettingInt(kMonitorSettingsSection, kMonitorIntervalName,
                                       kDefaultMonitorIntervalMs),
                   kMinIntervalMs, kMaxIntervalMs) /
        1000.0);
    addLabelled(res::kMonitorInterval, m_interval);
    m_timeout = new QSpinBox(this);
    m_timeout->setObjectName(QStringLiteral("monitorTimeout"));
    m_timeout->setRange(kMinTimeoutMs, kMaxTimeoutMs);
    m_timeout->setSingleStep(100);
    m_timeout->setValue(store.GetSettingInt(kMonitorSettingsSection, kMonitorTimeoutName,
                                            kDefaultMonitorTimeoutMs));
    addLabelled(res::kMonitorTimeout, m_timeout);
    m_method = new QComboBox(this);
    m_method->setObjectName(QStringLiteral("monitorMethod"));
    for (const std::string_view method : res::kMonitorMethods) {
        m_method->addItem(FromUtf8(method));
    }
    m_method->setCurrentIndex(
        std::clamp(store.GetSettingInt(kMonitorSettingsSection, kMonitorMethodName, 0), 0,
                   int(res::kMonitorMethods.size()) - 1));
    addLabelled(res::kMonitorMethod, m_method);
    m_port = new QSpinBox(this);
    m_port->setObjectName(QStringLiteral("monitorPort"));
    m_port->setRange(0, 65535);
    m_port->setSpecialValueText(FromUtf8(res::kMonitorPortDefault));
    m_port->setValue(store.GetSettingInt(kMonitorSettingsSection, kMonitorPortName, 0));
    addLabelled(res::kMonitorPort, m_port);
    // ICMP echo has no port.
    const auto portApplies = [this] { m_port->setEnabled(m_method->currentIndex() != 0); };
    connect(m_method, &QComboBox::currentIndexChanged, this, portApplies);
    portApplies();

    m_start = new QPushButton(FromUtf8(res::kMonitorStart), this);
    m_start->setObjectName(QStringLiteral("monitorStart"));
    connect(m_start, &QPushButton::clicked, this, &MonitorWindow::start);
    m_pause = new QPushButton(FromUtf8(res::kMonitorPause), this);
    m_pause->setObjectName(QStringLiteral("monitorPause"));
    m_pause->setEnabled(false);
    connect(m_pause, &QPushButton::clicked, this, &MonitorWindow::togglePause);
    controls->addWidget(m_start);
    controls->addWidget(m_pause);
    controls->addStretch();

    m_tableModel = new MonitorTableModel(*m_model, this);
    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("monitorTable"));
    m_table->setAccessibleName(FromUtf8(res::kAccessibleMonitorTable));
    m_table->setModel(m_tableModel);
    m_table->setItemDelegateForColumn(MonitorTableModel::kLatency, new SparkDelegate(m_table));
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    m_table->setColumnWidth(MonitorTableModel::kAddress, 150);
    m_table->setColumnWidth(MonitorTableModel::kName, 180);
    for (int column = MonitorTableModel::kLoss; column < MonitorTableModel::kLatency; ++column) {
        m_table->setColumnWidth(column, 64);
    }
    m_table->setColumnWidth(MonitorTableModel::kHop, 40);
    connect(m_tableModel, &QAbstractItemModel::modelReset, this, &MonitorWindow::selectHopRow);

    m_notes = new QLabel(this);
    m_notes->setObjectName(QStringLiteral("monitorNotes"));
    m_notes->setAccessibleName(FromUtf8(res::kAccessibleMonitorNotes));
    m_notes->setWordWrap(true);
    m_notes->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_notes->hide();

    auto* tablePane = new QWidget(this);
    auto* tableLayout = new QVBoxLayout(tablePane);
    tableLayout->setContentsMargins(0, 0, 0, 0);
    tableLayout->addWidget(m_table, 1);
    tableLayout->addWidget(m_notes);

    m_chart = new MonitorChart(this);
    connect(m_chart, &MonitorChart::shownRangeChanged, this, &MonitorWindow::redrawChart);

    m_splitter = new QSplitter(Qt::Vertical, this);
    m_splitter->setObjectName(QStringLiteral("monitorSplitter"));
    m_splitter->addWidget(tablePane);
    m_splitter->addWidget(m_chart);
    m_splitter->setChildrenCollapsible(false);

    auto* layout = new QVBoxLayout(central);
    layout->addLayout(controls);
    layout->addWidget(m_splitter, 1);
    setCentralWidget(central);
    buildMenu();

    resize(store.GetSettingInt(kMonitorSettingsSection, kMonitorWidthName, kDefaultMonitorWidth),
           store.GetSettingInt(kMonitorSettingsSection, kMonitorHeightName, kDefaultMonitorHeight));
    const int tableHeight =
        store.GetSettingInt(kMonitorSettingsSection, kMonitorTableHeightName, 0);
    const int chartHeight =
        store.GetSettingInt(kMonitorSettingsSection, kMonitorChartHeightName, 0);
    if (tableHeight > 0 && chartHeight > 0) {
        m_splitter->setSizes({tableHeight, chartHeight});
    }

    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        const QModelIndexList rows = m_table->selectionModel()->selectedRows();
        m_selectedHop = rows.isEmpty() ? 0 : m_tableModel->hopRow(rows.front().row()).hop;
        redrawChart();
    });
    auto* space = new QShortcut(QKeySequence(Qt::Key_Space), this);
    space->setContext(Qt::WindowShortcut);
    connect(space, &QShortcut::activated, this, &MonitorWindow::togglePause);

    m_timer.setInterval(kDrainIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &MonitorWindow::drain);
    m_chart->redraw(*m_model, chartHop());
}

MonitorWindow::~MonitorWindow()
{
    m_timer.stop();
    m_run.reset();
    // The widgets go after the model, with the base class: the table must not ask it then.
    m_table->setModel(nullptr);
}

void MonitorWindow::buildMenu()
{
    QMenu* file = menuBar()->addMenu(QLatin1Char('&') + Plain(res::kMonitorMenuFile));
    QAction* open =
        file->addAction(Plain(res::kMonitorOpenSession), this, &MonitorWindow::openSessionFile);
    open->setShortcut(QKeySequence::Open);
    m_save = file->addAction(Plain(res::kMonitorSaveSession), this, &MonitorWindow::saveSessionAs);
    m_save->setShortcut(QKeySequence::Save);
    m_save->setEnabled(false);
    QMenu* exportMenu = file->addMenu(Plain(res::kMonitorExport));
    exportMenu->addAction(Plain(res::kMonitorExportCsv), this,
                          [this] { exportFile(res::kMonitorCsvFilter, QStringLiteral(".csv")); });
    exportMenu->addAction(Plain(res::kMonitorExportJson), this,
                          [this] { exportFile(res::kMonitorJsonFilter, QStringLiteral(".json")); });
    exportMenu->addAction(Plain(res::kMonitorExportPng), this,
                          [this] { exportFile(res::kMonitorPngFilter, QStringLiteral(".png")); });
    file->addSeparator();
    QAction* close = file->addAction(Plain(res::kMonitorClose), this, &QWidget::close);
    close->setShortcut(QKeySequence::Close);

    QMenu* edit = menuBar()->addMenu(QLatin1Char('&') + Plain(res::kMonitorMenuEdit));
    QAction* copy = edit->addAction(Plain(res::kMonitorCopy), this,
                                    [this] { QApplication::clipboard()->setText(tableText()); });
    copy->setShortcut(QKeySequence::Copy);
}

void MonitorWindow::monitor(const QString& host)
{
    m_host->setEditText(host);
    if (!host.trimmed().isEmpty()) {
        start();
        // Space pauses from here on; in the host field it would be a character.
        m_table->setFocus();
    }
}

void MonitorWindow::start()
{
    const QString host = m_host->currentText().trimmed();
    if (m_readOnly || host.isEmpty()) {
        return;
    }
    RecordHost(m_store, kMonitorHistorySection, Utf16View(host));
    if (m_host->findText(host) == -1) {
        m_host->addItem(host);
        m_host->setEditText(host);
    }
    m_start->setEnabled(false);
    m_resolving = true;
    m_lookups.resolve(host.toStdString());
    m_timer.start();
    drain();
}

void MonitorWindow::startResolved(const HostAddress& destination)
{
    m_run.reset();
    m_writer.reset();
    m_model = std::make_unique<MonitorModel>();
    m_tableModel->setModel(*m_model);
    const auto intervalMs = static_cast<std::uint32_t>(std::lround(m_interval->value() * 1000));
    const auto timeoutMs = static_cast<std::uint32_t>(m_timeout->value());
    m_info = SessionInfo{
        m_host->currentText().trimmed().toStdString(), intervalMs, timeoutMs,
        QDateTime::currentMSecsSinceEpoch(),           0,          FormatAddress(destination)};
    m_writer = std::make_unique<SessionWriter>();
    std::string error;
    if (!m_writer->open(m_info, error)) {
        // The run goes on unrecorded: its table and chart still show, Save Session can't.
        warn(FromUtf8(error));
        m_writer.reset();
    }
    m_run = std::make_unique<MonitorRun>(MonitorRunOptions{.destination = destination,
                                                           .intervalMs = intervalMs,
                                                           .timeoutMs = timeoutMs,
                                                           .maxHop = kMaxHop,
                                                           .method = probeMethod()});
    m_run->start();
    m_paused = false;
    m_pause->setText(FromUtf8(res::kMonitorPause));
    m_pause->setEnabled(true);
    m_start->setEnabled(true);
    m_save->setEnabled(m_writer != nullptr);
    setWindowTitle(FromUtf8(res::kMonitorTitleFormat).arg(FromUtf8(m_info.host)));
    refresh();
}

ProbeMethod MonitorWindow::probeMethod() const
{
    ProbeMethod method;
    method.protocol = static_cast<ProbeProtocol>(m_method->currentIndex());
    if (method.protocol != ProbeProtocol::IcmpEcho) {
        method.port = static_cast<std::uint16_t>(m_port->value());
    }
    return method;
}

void MonitorWindow::togglePause()
{
    if (!m_run || m_readOnly) {
        return;
    }
    m_paused = !m_paused;
    if (m_paused) {
        m_run->pause();
    } else {
        m_run->resume();
    }
    m_pause->setText(FromUtf8(m_paused ? res::kMonitorResume : res::kMonitorPause));
}

void MonitorWindow::drain()
{
    if (m_resolving) {
        if (const std::optional<HostAddress> destination = m_lookups.takeResolved()) {
            m_resolving = false;
            m_start->setEnabled(true);
            if (*destination) {
                startResolved(*destination);
            } else {
                warn(FromUtf8(res::kCantResolveName));
            }
        }
    }
    const auto names = m_lookups.takeNames();
    for (const auto& [address, name] : names) {
        m_tableModel->setName(address, QString::fromStdString(name));
    }
    if (m_run && m_run->drain(*m_model, m_writer.get()) > 0) {
        refresh();
    } else {
        showWhenDue();
    }
}

void MonitorWindow::refresh()
{
    m_tableDue = true;
    m_chartDue = true;
    showWhenDue();
}

void MonitorWindow::showWhenDue()
{
    if (m_tableDue && (!m_tableShown.isValid() || m_tableShown.elapsed() >= kTableSpacingMs)) {
        showTable();
    }
    if (m_chartDue && (!m_chartDrawn.isValid() || m_chartDrawn.elapsed() >= kChartSpacingMs)) {
        redrawChart();
    }
}

void MonitorWindow::showTable()
{
    m_tableDue = false;
    m_tableShown.start();
    m_tableModel->refresh();
    std::size_t responders = 0;
    for (const MonitorModel::HopRow& row : m_model->rows()) {
        responders += row.responders.size();
        for (const HostAddress& responder : row.responders) {
            m_lookups.ask(responder);
        }
    }
    // A row is as tall as its responders; measuring every row on every refresh would cost more
    // than the rest of it.
    if (responders != m_shownResponders) {
        m_shownResponders = responders;
        m_table->resizeRowsToContents();
    }
    updateNotes();
}

void MonitorWindow::selectHopRow()
{
    if (m_selectedHop == 0) {
        return;
    }
    const auto& rows = m_model->rows();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].hop == m_selectedHop) {
            const QSignalBlocker quiet(m_table->selectionModel());
            m_table->selectRow(int(i));
            return;
        }
    }
}

std::int32_t MonitorWindow::chartHop() const
{
    return m_selectedHop != 0 ? m_selectedHop : m_model->destinationHop();
}

void MonitorWindow::updateNotes()
{
    QStringList lines;
    for (const MonitorModel::HopRow& row : m_model->rows()) {
        if (row.note == HopNote::RateLimited) {
            lines << FromUtf8(res::kMonitorRateLimitedNote).arg(row.hop);
        } else if (row.note == HopNote::LossBegins) {
            lines << FromUtf8(res::kMonitorLossBeginsNote).arg(row.hop);
        }
    }
    m_notes->setText(lines.join(QLatin1Char('\n')));
    m_notes->setVisible(!lines.isEmpty());
}

void MonitorWindow::redrawChart()
{
    m_chart->redraw(*m_model, chartHop());
    m_chartDue = false;
    m_chartDrawn.start();
}

void MonitorWindow::setControlsEnabled(bool enabled)
{
    for (QWidget* control : std::initializer_list<QWidget*>{m_host, m_interval, m_timeout, m_method,
                                                            m_port, m_start, m_pause}) {
        control->setEnabled(enabled);
    }
}

bool MonitorWindow::openSession(const QString& path, QString& error)
{
    auto model = std::make_unique<MonitorModel>();
    SessionInfo info;
    std::string reason;
    if (!OpenSession(path.toStdString(), info, *model, reason)) {
        error = QString::fromStdString(reason);
        return false;
    }
    m_timer.stop();
    m_run.reset();
    m_writer.reset();
    m_model = std::move(model);
    m_info = info;
    m_readOnly = true;
    m_tableModel->setModel(*m_model);
    setControlsEnabled(false);
    m_save->setEnabled(false);
    m_host->setEditText(FromUtf8(info.host));
    m_interval->setValue(info.intervalMs / 1000.0);
    m_timeout->setValue(int(info.timeoutMs));
    setWindowTitle(FromUtf8(res::kMonitorReadOnlyTitleFormat).arg(FromUtf8(info.host)));
    m_chart->setRange(kAllRange);
    refresh();
    return true;
}

bool MonitorWindow::saveSession(const QString& path, QString& error) const
{
    std::string reason;
    if (!m_writer || !SaveSessionCopy(*m_writer, path.toStdString(), reason)) {
        error = QString::fromStdString(reason);
        return false;
    }
    return true;
}

QString MonitorWindow::tableText() const
{
    return QString::fromStdString(MonitorTableText(*m_model));
}

void MonitorWindow::saveSessionAs()
{
    QString path = QFileDialog::getSaveFileName(this, Plain(res::kMonitorSaveSession), QString(),
                                                FromUtf8(res::kMonitorSessionFilter));
    if (path.isEmpty()) {
        return;
    }
    if (!path.endsWith(QStringLiteral(".hopwise"))) {
        path += QStringLiteral(".hopwise");
    }
    QString error;
    if (!saveSession(path, error)) {
        warn(FromUtf8(res::kMonitorCantWrite).arg(path) + QStringLiteral(": ") + error);
    }
}

void MonitorWindow::openSessionFile()
{
    const QString path = QFileDialog::getOpenFileName(
        this, Plain(res::kMonitorOpenSession), QString(), FromUtf8(res::kMonitorSessionFilter));
    if (path.isEmpty()) {
        return;
    }
    auto* window = new MonitorWindow(m_store);
    window->setAttribute(Qt::WA_DeleteOnClose);
    QString error;
    if (!window->openSession(path, error)) {
        delete window;
        warn(error);
        return;
    }
    window->show();
}

void MonitorWindow::exportFile(std::string_view filter, const QString& suffix)
{
    QString path =
        QFileDialog::getSaveFileName(this, Plain(res::kMonitorExport), QString(), FromUtf8(filter));
    if (path.isEmpty()) {
        return;
    }
    if (!path.endsWith(suffix)) {
        path += suffix;
    }
    if (!exportTo(path)) {
        warn(FromUtf8(res::kMonitorCantWrite).arg(path));
    }
}

bool MonitorWindow::exportTo(const QString& path)
{
    if (path.endsWith(QStringLiteral(".png"))) {
        return m_chart->view().grab().save(path, "PNG");
    }
    SessionInfo info = m_info;
    info.endMs = m_model->lastMs();
    const std::string text = path.endsWith(QStringLiteral(".csv"))
                                 ? MonitorTableCsv(*m_model)
                                 : MonitorReportJson(*m_model, info);
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(text.data(), qint64(text.size())) == qint64(text.size());
}

void MonitorWindow::warn(const QString& text)
{
    auto* box =
        new QMessageBox(QMessageBox::Warning, FromUtf8(res::kAppName), text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void MonitorWindow::saveLayout()
{
    if (isMaximized() || isFullScreen()) {
        return;
    }
    m_store.WriteSettingInt(kMonitorSettingsSection, kMonitorWidthName, width());
    m_store.WriteSettingInt(kMonitorSettingsSection, kMonitorHeightName, height());
    const QList<int> sizes = m_splitter->sizes();
    if (sizes.size() == 2) {
        m_store.WriteSettingInt(kMonitorSettingsSection, kMonitorTableHeightName, sizes[0]);
        m_store.WriteSettingInt(kMonitorSettingsSection, kMonitorChartHeightName, sizes[1]);
    }
    if (!m_readOnly) {
        m_store.WriteSettingInt(kMonitorSettingsSection, kMonitorIntervalName,
                                int(std::lround(m_interval->value() * 1000)));
        m_store.WriteSettingInt(kMonitorSettingsSection, kMonitorTimeoutName, m_timeout->value());
        m_store.WriteSettingInt(kMonitorSettingsSection, kMonitorMethodName,
                                m_method->currentIndex());
        m_store.WriteSettingInt(kMonitorSettingsSection, kMonitorPortName, m_port->value());
    }
}

void MonitorWindow::closeEvent(QCloseEvent* event)
{
    saveLayout();
    m_timer.stop();
    m_run.reset();
    event->accept();
}

} // namespace hopwise
