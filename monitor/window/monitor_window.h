#pragma once

// The route monitor window: one host monitored hop by hop, independent of the pages. Host field
// with its own history, interval and time-out, Start / Pause / Resume (and Space); the table of
// hops with their notes under it, and the timeline of the selected hop. A timer drains the run
// into the model ten times a second; the table then repaints once for all that came (at most
// every 250 ms) and the chart at most once a second; nothing is drawn per sample. A session
// opened from a file shows in a window of its own, read-only.

#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>
#include <memory>

#include "monitor/monitor_model.h"
#include "monitor/monitor_run.h"
#include "monitor/session_file.h"
#include "monitor/window/name_lookups.h"

class QAction;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QSplitter;
class QTableView;

namespace hopwise {

class MonitorChart;
class MonitorTableModel;
class SettingsStore;

class MonitorWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kDrainIntervalMs = 100;
    // The chart follows new samples at most once a second: at its narrowest range a second is
    // about a pixel, and a chart costs far more to lay out than the table.
    static constexpr int kChartSpacingMs = 1000;
    // The table at most four times a second, as fast as a number can be read: its text costs
    // most of a live window's time.
    static constexpr int kTableSpacingMs = 250;

    // The store must outlive the window, which deletes itself when closed.
    explicit MonitorWindow(SettingsStore& store, QWidget* parent = nullptr);
    ~MonitorWindow() override;
    MonitorWindow(const MonitorWindow&) = delete;
    MonitorWindow& operator=(const MonitorWindow&) = delete;

    // Puts host in the host field and starts monitoring it (when it isn't empty).
    void monitor(const QString& host);
    // Start: a new run and model for the host field's host, once its address is known.
    void start();
    // Pause or Resume, as the button shows (Space).
    void togglePause();
    bool isPaused() const { return m_paused; }
    bool isReadOnly() const { return m_readOnly; }
    // The method the next Start probes with, as the method and port controls show it.
    ProbeMethod probeMethod() const;

    // Shows a session file read-only in this window; false with the reason in error.
    bool openSession(const QString& path, QString& error);
    // Writes the session so far to path; false with the reason in error.
    bool saveSession(const QString& path, QString& error) const;

    // Takes what the run has, then shows the model as it is: the timer's work.
    void drain();
    // Shows the model as it is now (table and notes, chart), each as soon as its spacing allows.
    void refresh();

    MonitorModel& model() { return *m_model; }
    QTableView& table() const { return *m_table; }
    QLabel& notes() const { return *m_notes; }
    MonitorChart& chart() const { return *m_chart; }
    // The hop the chart shows: the selected row's, else the destination's.
    std::int32_t chartHop() const;

    // The table as text (Copy) and the files of Export.
    QString tableText() const;
    // Export's work once it has a file name: the chart for ".png", the table for ".csv", the
    // report's JSON otherwise. False when the file couldn't be written.
    bool exportTo(const QString& path);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenu();
    void startResolved(const HostAddress& destination);
    void setControlsEnabled(bool enabled);
    void updateNotes();
    void redrawChart();
    void showWhenDue();
    void showTable();
    void saveSessionAs();
    void openSessionFile();
    void exportFile(std::string_view filter, const QString& suffix);
    void warn(const QString& text);
    void saveLayout();
    void selectHopRow();

    SettingsStore& m_store;
    std::unique_ptr<MonitorModel> m_model;
    std::unique_ptr<MonitorRun> m_run;
    std::unique_ptr<SessionWriter> m_writer;
    SessionInfo m_info;
    NameLookups m_lookups;
    bool m_paused = false;
    bool m_readOnly = false;
    bool m_resolving = false;
    std::int32_t m_selectedHop = 0; // 0: the destination's
    std::size_t m_shownResponders = 0;
    bool m_chartDue = false;
    bool m_tableDue = false;
    QElapsedTimer m_tableShown;
    QElapsedTimer m_chartDrawn;

    QComboBox* m_host = nullptr;
    QDoubleSpinBox* m_interval = nullptr;
    QSpinBox* m_timeout = nullptr;
    QComboBox* m_method = nullptr;
    QSpinBox* m_port = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_pause = nullptr;
    QSplitter* m_splitter = nullptr;
    QTableView* m_table = nullptr;
    MonitorTableModel* m_tableModel = nullptr;
    QLabel* m_notes = nullptr;
    MonitorChart* m_chart = nullptr;
    QAction* m_save = nullptr;
    QTimer m_timer;
};

} // namespace hopwise
