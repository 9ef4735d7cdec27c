#pragma once

// The trace route page: host, hop bound and name lookup in, one tree item per hop out. It is
// the TraceRouteInputs its worker reads, and the receiver the worker's notifications reach on
// the window thread.

#include "trace/trace_route_inputs.h"
#include "widgets/probe_page.h"

namespace hopwise {

class CTraceRoutePage : public ProbePageOf<TraceRouteInputs, TraceRouteSettings> {
    Q_OBJECT
public:
    // Template 130; loads the page's settings. The store must outlive the page.
    explicit CTraceRoutePage(SettingsStore& store);

    bool OnInitPage() override;
    void OnCancelTrace() { cancelRun(); }

private:
    void takeInputs() override;
    void addResult(const ProbeResult& result) override;
    QString runSettingsText() const override;
};

} // namespace hopwise
