#pragma once

// The ping page: host, time-to-live and number of trials in, one list row per echo out, newest
// on top and held to m_iMaxItemsInList rows. It is the PingInputs its worker reads, and the
// receiver the worker's notifications reach on the window thread.

#include <QString>
#include <cstdint>

#include "ping/ping_inputs.h"
#include "widgets/probe_page.h"

namespace hopwise {

// Num Trials as GO reads it: "inf" and "infinity" in any case give -1, anything else the signed
// decimal number it starts with (blanks first skipped; none gives 0), held to 32 bits.
std::int32_t ParseNumTrials(const QString& text);
// "inf" for -1, else the number.
QString FormatNumTrials(std::int32_t trials);

class CPingPage : public ProbePageOf<PingInputs, PingSettings> {
    Q_OBJECT
public:
    // Template 131; loads the page's settings. The store must outlive the page.
    explicit CPingPage(SettingsStore& store);

    bool OnInitPage() override;
    // One row for a WM_PROBE_RESULT, on top; the oldest rows beyond m_iMaxItemsInList go.
    void AddReplyRow(const ProbeResult& result);
    void OnCancelPing() { cancelRun(); }

private:
    void takeInputs() override;
    QString runSettingsText() const override;
    void addResult(const ProbeResult& result) override { AddReplyRow(result); }
};

} // namespace hopwise
