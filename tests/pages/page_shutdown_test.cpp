// Both pages together: runs side by side, a history cleared during a run, and pages destroyed
// while their workers wait for an echo or a name lookup.

#include <QCheckBox>
#include <QElapsedTimer>
#include <QTest>
#include <poll.h>

#include "ping/ping_page.h"
#include "probe/linux/probe_interrupt.h"
#include "res/resource_ids.h"
#include "tests/pages/page_test_support.h"
#include "trace/trace_route_page.h"

namespace hopwise::test {
namespace {

constexpr int kLongTimeoutMs = 30000;

// Blocks until the calling thread's probe interrupt is raised, or the long timeout passed.
void WaitForInterrupt()
{
    ProbeInterrupt* interrupt = CurrentProbeInterrupt();
    QElapsedTimer waited;
    waited.start();
    while ((interrupt == nullptr || !interrupt->raised()) && waited.elapsed() < kLongTimeoutMs) {
        pollfd fd{interrupt != nullptr ? interrupt->pollDescriptor() : -1, POLLIN, 0};
        poll(&fd, 1, 50);
    }
}

// Lookups that hang like an unreachable name server, but honour the interrupt.
class HangingResolver final : public HostResolver {
public:
    std::optional<IpAddress> lookUpName(const char*) override
    {
        ++m_entered;
        WaitForInterrupt();
        return std::nullopt;
    }
    std::optional<std::string> lookUpAddress(IpAddress) override
    {
        ++m_entered;
        WaitForInterrupt();
        return std::nullopt;
    }
    std::atomic<int> m_entered{0};
};

class TwoPagesTest : public PageTest {
protected:
    TwoPagesTest()
    {
        m_resolver.addName("router", {Ip("10.0.0.9")});
        m_resolver.addName("pinged", {Ip("10.7.7.7")});
        m_trace = std::make_unique<CTraceRoutePage>(*m_store);
        m_ping = std::make_unique<CPingPage>(*m_store);
        m_trace->setMessageBox([this](QWidget*, const QString& text) { m_boxes.push_back(text); });
        m_ping->setMessageBox([this](QWidget*, const QString& text) { m_boxes.push_back(text); });
        m_trace->Create(&m_parent);
        m_ping->Create(&m_parent);
    }

    void goTrace(const QString& host, const QString& maxHop)
    {
        Find<QComboBox>(*m_trace, res::kTraceHost)->setEditText(host);
        Find<QLineEdit>(*m_trace, res::kTraceMaxHop)->setText(maxHop);
        Find<QAbstractButton>(*m_trace, res::kTraceGo)->click();
    }
    void goPing(const QString& host, const QString& trials)
    {
        Find<QComboBox>(*m_ping, res::kPingHost)->setEditText(host);
        Find<QLineEdit>(*m_ping, res::kPingNumTrials)->setText(trials);
        Find<QAbstractButton>(*m_ping, res::kPingGo)->click();
    }
    bool traceDone() const { return !Find<QLabel>(*m_trace, res::kTraceStatus)->isHidden(); }
    bool pingDone() const { return !Find<QLabel>(*m_ping, res::kPingStatus)->isHidden(); }

    // Destroys both pages as a closing window does; yields how long that took.
    qint64 destroyPages()
    {
        QElapsedTimer timer;
        timer.start();
        m_ping.reset();
        m_trace.reset();
        return timer.elapsed();
    }

    std::unique_ptr<CTraceRoutePage> m_trace;
    std::unique_ptr<CPingPage> m_ping;
};

TEST_F(TwoPagesTest, bothPagesRunAtOnceEachShowingOnlyItsOwnResults)
{
    Gate pingStarted;
    // The trace's first hop is held until the ping has sent a probe: the runs overlap.
    m_stack.answerTtl(1, Reply("10.1.0.1", 1));
    m_stack.answerTtl(2, Reply("10.0.0.9", 2));
    m_stack.answerTtl(20, Reply("10.7.7.7", 7, 50));
    m_stack.answerNext(Answer(Reply("10.1.0.1", 1), [&] { pingStarted.wait(); }));
    goTrace("router", "30");
    ASSERT_TRUE(WaitUntil([&] { return m_stack.callCount() == 1; }));
    goPing("pinged", "3");
    ASSERT_TRUE(WaitUntil([&] { return m_stack.callCount() >= 2; }));
    pingStarted.open();
    ASSERT_TRUE(WaitUntil([&] { return traceDone() && pingDone(); }));

    EXPECT_EQ(TopLevelTexts(*Find<QTreeWidget>(*m_trace, res::kTraceHopTree)),
              (QStringList{"10.1.0.1 [1 ms]", "10.0.0.9 [2 ms]"}));
    EXPECT_EQ(TopLevelTexts(*Find<QTreeWidget>(*m_ping, res::kPingReplyList)),
              (QStringList{"10.7.7.7", "10.7.7.7", "10.7.7.7"}));
    EXPECT_EQ(Find<QLabel>(*m_trace, res::kTraceDestIp)->text(), "Dest IP: 10.0.0.9");
    EXPECT_EQ(Find<QLabel>(*m_ping, res::kPingDestIp)->text(), "Dest IP: 10.7.7.7");
    EXPECT_EQ(m_stack.callCount(), 5u);
}

TEST_F(TwoPagesTest, clearingAHistoryDuringARunLeavesTheRunAndTheOtherHistory)
{
    RecordHost(*m_store, kPingHistorySection, u"pinged");
    RecordHost(*m_store, kTraceHistorySection, u"older");
    m_trace.reset();
    m_ping.reset();
    m_trace = std::make_unique<CTraceRoutePage>(*m_store);
    m_ping = std::make_unique<CPingPage>(*m_store);
    m_trace->Create(&m_parent);
    m_ping->Create(&m_parent);

    Gate hop;
    m_stack.answerNext(Answer(Reply("10.0.0.9", 1), [&] { hop.wait(); }));
    goTrace("router", "5");
    ASSERT_TRUE(WaitUntil([&] { return m_stack.callCount() == 1; }));
    auto* traceHost = Find<QComboBox>(*m_trace, res::kTraceHost);
    EXPECT_EQ(Items(*traceHost), (QStringList{"older", "router"}));

    m_trace->OnClearHistory();
    EXPECT_EQ(traceHost->count(), 0);
    EXPECT_EQ(traceHost->currentText(), "");
    EXPECT_TRUE(LoadHostHistory(*makeStore(), kTraceHistorySection).empty());
    hop.open();
    ASSERT_TRUE(WaitUntil([&] { return traceDone(); }));

    EXPECT_EQ(Find<QLabel>(*m_trace, res::kTraceStatus)->text(), "Done");
    EXPECT_EQ(TopLevelTexts(*Find<QTreeWidget>(*m_trace, res::kTraceHopTree)),
              QStringList{"10.0.0.9 [1 ms]"});
    EXPECT_EQ(traceHost->count(), 0) << "the run's host is not added back";
    EXPECT_TRUE(LoadHostHistory(*makeStore(), kTraceHistorySection).empty());
    EXPECT_EQ(Items(*Find<QComboBox>(*m_ping, res::kPingHost)), QStringList{"pinged"});
    EXPECT_EQ(LoadHostHistory(*makeStore(), kPingHistorySection),
              std::vector<std::u16string>{u"pinged"});
}

TEST_F(TwoPagesTest, destroyingBothPagesDuringLongEchoesIsPromptAndSavesTheSettings)
{
    m_stack.waitOutTimeouts(true);
    m_trace->m_iHopTimeout = kLongTimeoutMs;
    m_ping->m_iHopTimeout = kLongTimeoutMs;
    goTrace("router", "6");
    goPing("pinged", "inf");
    ASSERT_TRUE(WaitUntil([&] { return m_stack.callCount() == 2; }));

    EXPECT_LT(destroyPages(), 2000) << "shutdown must not wait out a 30 s echo";
    auto store = makeStore();
    EXPECT_EQ(store->GetSettingInt(kTraceSettingsSection, kMaxHopCountName, -99), 6);
    EXPECT_EQ(store->GetSettingInt(kPingSettingsSection, kNumTrialsName, -99), -1);
    EXPECT_EQ(store->GetSettingInt(kPingSettingsSection, kHopTimeoutName, -99), kLongTimeoutMs);
}

TEST_F(TwoPagesTest, destroyingPagesDuringSlowNameLookupsIsPrompt)
{
    HangingResolver hanging;
    ScopedHostResolver install(hanging);
    Find<QCheckBox>(*m_trace, res::kTraceResolveIp)->setChecked(true);
    goTrace("hangs.example", "6");
    goPing("hangs-too.example", "3");
    ASSERT_TRUE(WaitUntil([&] { return hanging.m_entered == 2; }));
    EXPECT_LT(destroyPages(), 2000) << "shutdown must not wait for the name server";
}

TEST_F(TwoPagesTest, destroyingAPageWhileItsWorkerWaitsForTheWindow)
{
    // The worker's notifications are queued but never handled: no event loop runs until the
    // pages are gone.
    m_stack.answerAll(Reply("10.0.0.9", 1));
    goTrace("router", "30");
    goPing("pinged", "inf");
    EXPECT_LT(destroyPages(), 2000);
    QCoreApplication::processEvents(); // queued calls for the destroyed pages are dropped
}

} // namespace
} // namespace hopwise::test
