#pragma once

// The ping page: host, time-to-live and number of trials in, one list row per echo out, newest
// on top and held to m_iMaxItemsInList rows. It is the PingInputs its worker reads, and the
// receiver the worker's notifications reach on the window thread.

#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "widgets/dialog_builder.h"
#include "ping/ping_inputs.h"
#include "widgets/page_support.h"
#include "run/probe_run.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace hopwise {

class SettingsStore;
class UpDownControl;

// Num Trials as GO reads it: "inf" and "infinity" in any case give -1, anything else the signed
// decimal number it starts with (blanks first skipped; none gives 0), held to 32 bits.
std::int32_t ParseNumTrials(const QString& text);
// "inf" for -1, else the number.
QString FormatNumTrials(std::int32_t trials);

class CPingPage : public QWidget, public PingInputs, private ProbeMessageTarget {
    Q_OBJECT
public:
    // Loads the page's settings; the store must outlive the page.
    explicit CPingPage(SettingsStore& store);
    // Ends a run still under way (without waiting out its echo or lookup), then writes every
    // setting back.
    ~CPingPage() override;
    CPingPage(const CPingPage&) = delete;
    CPingPage& operator=(const CPingPage&) = delete;

    // Builds the controls of template 131 on the page, makes it a (hidden) child of parent and
    // initialises it. The page takes the template's size.
    bool Create(QWidget* parent);

    bool OnInitPage();
    void OnGo();
    void OnCancelPing();
    void OnClearHistory();
    // A command id from a button, the Escape key (2) or the menu.
    void OnCommand(int id);
    std::intptr_t OnWorkerMessage(std::uint32_t message, std::intptr_t wParam,
                                  std::intptr_t lParam);
    void AddReplyRow(const ProbeResult& result);

    // Replaces the message box (tests).
    void setMessageBox(PageMessageBox box) { m_messageBox = std::move(box); }

protected:
    bool event(QEvent* event) override;

private:
    std::intptr_t sendMessage(std::uint32_t message, std::intptr_t wParam,
                              std::intptr_t lParam) override;
    void setInputsEnabled(bool enabled);

    SettingsStore& m_store;
    PageMessageBox m_messageBox = ShowWarningBox;
    std::unique_ptr<ProbeRun> m_run;

    DialogControls m_controls;
    QPushButton* m_go = nullptr;
    QLineEdit* m_maxHop = nullptr;
    UpDownControl* m_maxHopSpin = nullptr;
    QLabel* m_destIp = nullptr;
    QComboBox* m_host = nullptr;
    QLabel* m_status = nullptr;
    QTreeWidget* m_replyList = nullptr;
    QPushButton* m_cancel = nullptr;
    QLineEdit* m_numTrials = nullptr;
};

} // namespace hopwise
