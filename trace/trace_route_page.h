#pragma once

// The trace route page: host, hop bound and name lookup in, one tree item per hop out. It is
// the TraceRouteInputs its worker reads, and the receiver the worker's notifications reach on
// the window thread.

#include <QWidget>
#include <cstdint>
#include <memory>

#include "widgets/dialog_builder.h"
#include "widgets/page_support.h"
#include "run/probe_run.h"
#include "trace/trace_route_inputs.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace hopwise {

class SettingsStore;
class UpDownControl;

class CTraceRoutePage : public QWidget, public TraceRouteInputs, private ProbeMessageTarget {
    Q_OBJECT
public:
    // Loads the page's settings; the store must outlive the page.
    explicit CTraceRoutePage(SettingsStore& store);
    // Ends a run still under way (without waiting out its echo or lookup), then writes every
    // setting back.
    ~CTraceRoutePage() override;
    CTraceRoutePage(const CTraceRoutePage&) = delete;
    CTraceRoutePage& operator=(const CTraceRoutePage&) = delete;

    // Builds the controls of template 130 on the page, makes it a (hidden) child of parent and
    // initialises it. The page takes the template's size.
    bool Create(QWidget* parent);

    bool OnInitPage();
    void OnGo();
    void OnCancelTrace();
    void OnClearHistory();
    // A command id from a button, the Escape key (2) or the menu.
    void OnCommand(int id);
    std::intptr_t OnWorkerMessage(std::uint32_t message, std::intptr_t wParam,
                                  std::intptr_t lParam);

    // Replaces the message box (tests).
    void setMessageBox(PageMessageBox box) { m_messageBox = std::move(box); }

protected:
    bool event(QEvent* event) override;

private:
    std::intptr_t sendMessage(std::uint32_t message, std::intptr_t wParam,
                              std::intptr_t lParam) override;
    void addHop(const ProbeResult& result);

    SettingsStore& m_store;
    PageMessageBox m_messageBox = ShowWarningBox;
    std::unique_ptr<ProbeRun> m_run;

    DialogControls m_controls;
    QPushButton* m_go = nullptr;
    QTreeWidget* m_hopTree = nullptr;
    QLineEdit* m_maxHop = nullptr;
    QLineEdit* m_maxDelay = nullptr;
    UpDownControl* m_maxHopSpin = nullptr;
    QLabel* m_destIp = nullptr;
    QComboBox* m_host = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_cancel = nullptr;
    QCheckBox* m_resolveIp = nullptr;
};

} // namespace hopwise
