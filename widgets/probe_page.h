#pragma once

// What the trace route page and the ping page do alike: the host combo box and its history, the
// Max Hop spinner, GO, Cancel and the Escape key, and the worker's notifications up to the
// result itself. A page names its controls in a ProbePageShape and supplies only what is its
// own: its other inputs, how a result shows, and (through ProbePageOf) its inputs struct and
// worker.

#include <QDateTime>
#include <QMenu>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string_view>

#include "res/dialog_templates.h"
#include "run/host_text.h"
#include "run/probe_messages.h"
#include "run/probe_run.h"
#include "settings/page_settings.h"
#include "widgets/dialog_builder.h"

class QComboBox;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace hopwise {

class ChannelWakeup;
class UpDownControl;

// Shows text to the user and returns once it was dismissed. The pages call it from a
// notification handler while the worker waits; tests put a recorder in its place.
using PageMessageBox = std::function<void(QWidget* parent, const QString& text)>;

// The application's warning box: exclamation icon, a single OK button, caption "Hopwise",
// modal. Safe when the parent is destroyed while it is open.
void ShowWarningBox(QWidget* parent, const QString& text);

// The controls of a page's template that the shared behaviour works, by id.
struct ProbePageControls {
    int go, cancel, host, status, destIp, maxHopSpin, results;
};

// What makes a probe page one of its kind, as far as the shared behaviour goes.
struct ProbePageShape {
    const res::DialogTemplate& (*dialog)();
    ProbePageControls controls;
    std::span<const int> inputs; // disabled by GO and enabled again at the end, in this order
    int clearHistoryCommand;     // the menu command that OnCommand passes to OnClearHistory
    std::u16string_view historySection;
};

class ProbePage : public QWidget, private ProbeMessageTarget {
    Q_OBJECT
public:
    ~ProbePage() override;
    ProbePage(const ProbePage&) = delete;
    ProbePage& operator=(const ProbePage&) = delete;

    // Builds the controls of the page's template on the page, makes it a (hidden) child of
    // parent and initialises it. The page takes the template's size.
    bool Create(QWidget* parent);

    // Fills the host list from the history and shows Max Hop; a page adds its own controls.
    virtual bool OnInitPage();
    void OnGo();
    void OnClearHistory();
    // A command id from a button, the Escape key (2) or the menu.
    void OnCommand(int id);
    std::intptr_t OnWorkerMessage(std::uint32_t message, std::intptr_t wParam,
                                  std::intptr_t lParam);

    // Replaces the message box (tests).
    void setMessageBox(PageMessageBox box) { m_messageBox = std::move(box); }

    // A row's address handed to the other page: the menu item's text, whether that page can
    // take one now (not while it runs), and what starts its run. The frame sets it.
    struct AddressHandOff {
        QString text;
        std::function<bool()> available;
        std::function<void(const QString& address)> start;
    };
    void setAddressHandOff(AddressHandOff handOff) { m_handOff = std::move(handOff); }
    // The page's host handed upward to be monitored (the menu item "Monitor This Route"): the
    // host of the last run, else the one in Name/IP. The frame sets it.
    void setMonitorHandOff(std::function<void(const QString& host)> monitor)
    {
        m_monitorHandOff = std::move(monitor);
    }
    // The host the page stands for: the last run's, else Name/IP's text.
    QString routeHost() const;
    // A run is under way: its Cancel button shows.
    bool isRunning() const;
    // Name/IP takes host, then GO.
    void runFor(const QString& host);
    // The selected rows, one line each in the row's own text (its cells, tab-separated), a
    // hop's name on the line after it.
    QString selectedRowsText() const;
    // Every row, below the run's host, address, local date and time and settings.
    QString allRowsText() const;
    // The results' menu while it is open (a right click, the Menu key, Shift+F10).
    QMenu* resultMenu() const { return m_resultMenu; }

protected:
    // What of the page's inputs the shared behaviour reads and writes.
    struct RunFields {
        char (&host)[kHostTextSize];
        std::atomic<bool>& cancel;
        ProbeMessageTarget*& window;
        std::atomic<std::int32_t>& maxHopCount;
    };

    // The store must outlive the page.
    ProbePage(SettingsStore& store, const ProbePageShape& shape);

    // The cancel action: the worker stops at its next check; Cancel stays visible, disabled,
    // until the run has ended. The page itself is never closed by it.
    void cancelRun();
    // Ends a run still under way without waiting out its echo or lookup.
    void endRun() { m_run.reset(); }
    // GO's reading of the Max Hop field, for the page's takeInputs.
    void takeMaxHop();

    template <class Widget> Widget* control(int id) const { return m_controls.get<Widget>(id); }
    QTreeWidget& resultView() const { return *m_results; }
    SettingsStore& store() const { return m_store; }

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The page's settings as the run took them, for the header of "Copy All".
    virtual QString runSettingsText() const = 0;
    void setUpResultView();
    void openResultMenu(const QPoint& viewportPosition);
    void openResultMenuAtCurrentRow();
    void copyToClipboard(const QString& text) const;
    // The address a row stands for, dotted or IPv6 text (a hop's name row stands for its hop);
    // empty for "No Response".
    QString rowAddress(const QTreeWidgetItem& item) const;
    // Puts a WM_PROBE_DESTINATION's text on the Dest IP line.
    void showDestination(const QString& text);

    // Reads the page's own inputs (Max Hop among them) into its members at GO.
    virtual void takeInputs() = 0;
    // Shows one WM_PROBE_RESULT; the record is valid only during the call.
    virtual void addResult(const ProbeResult& result) = 0;
    virtual RunFields runFields() = 0;
    virtual std::unique_ptr<ProbeRun> startWorker(ProbeMessageTarget& window,
                                                  SyncMessageChannel::Wake wake) = 0;

    std::intptr_t sendMessage(std::uint32_t message, std::intptr_t wParam,
                              std::intptr_t lParam) override;
    void setInputsEnabled(bool enabled);
    void showMessage(const QString& text);

    SettingsStore& m_store;
    const ProbePageShape& m_shape;
    PageMessageBox m_messageBox = ShowWarningBox;
    // Declared before the run, which must end first: its worker raises this wake-up.
    std::unique_ptr<ChannelWakeup> m_wakeup;
    std::unique_ptr<ProbeRun> m_run;

    DialogControls m_controls;
    QPushButton* m_go = nullptr;
    QPushButton* m_cancel = nullptr;
    QComboBox* m_host = nullptr;
    QLabel* m_status = nullptr;
    QLabel* m_destIp = nullptr;
    UpDownControl* m_maxHopSpin = nullptr;
    QTreeWidget* m_results = nullptr;

    AddressHandOff m_handOff;
    std::function<void(const QString& host)> m_monitorHandOff;
    QPointer<QMenu> m_resultMenu;
    // What the header of "Copy All" tells about the last run.
    QString m_destination; // the whole Dest IP line, which the label may show shortened
    QString m_runHost;
    QDateTime m_runTime;
    QString m_runSettings;
};

// A probe page that is its worker's inputs: the worker reads m_szHost, the settings and
// m_bCancel on the page itself. The settings are loaded at construction; at destruction the run
// is ended before the inputs go, and then every setting is written back, changed or not.
template <class Inputs, class Settings> class ProbePageOf : public ProbePage, public Inputs {
public:
    ~ProbePageOf() override
    {
        endRun();
        this->m_pWindow = nullptr;
        SaveSettings(store(), static_cast<const Settings&>(*this));
    }

protected:
    using Worker = std::uint32_t (*)(Inputs*);

    ProbePageOf(SettingsStore& store, const ProbePageShape& shape, Worker worker)
        : ProbePage(store, shape), m_worker(worker)
    {
        LoadSettings(store, static_cast<Settings&>(*this));
    }

private:
    RunFields runFields() final
    {
        return {this->m_szHost, this->m_bCancel, this->m_pWindow, this->m_iMaxHopCount};
    }
    // Named from the namespace: the base's ProbeMessageTarget is private.
    std::unique_ptr<ProbeRun> startWorker(hopwise::ProbeMessageTarget& window,
                                          SyncMessageChannel::Wake wake) final
    {
        return StartProbeRun(static_cast<Inputs&>(*this), m_worker, window, std::move(wake));
    }

    Worker m_worker;
};

} // namespace hopwise
