// The trace route page driven through its controls, against the scripted echo stack and the
// table resolver.

#include <QCheckBox>
#include <QTest>
#include <pthread.h>

#include "widgets/dialog_units.h"
#include "widgets/up_down_control.h"
#include "probe/echo_status.h"
#include "res/dialog_templates.h"
#include "res/resource_ids.h"
#include "tests/pages/page_test_support.h"
#include "trace/trace_route_page.h"

namespace hopwise::test {
namespace {

class TracePageTest : public PageTest {
protected:
    TracePageTest() { m_resolver.addName("target", {Ip("10.0.0.9")}); }

    CTraceRoutePage& open()
    {
        m_page = std::make_unique<CTraceRoutePage>(*m_store);
        m_page->setMessageBox([this](QWidget*, const QString& text) {
            m_boxes.push_back(text);
            m_statusShownAtBox.push_back(!status()->isHidden());
        });
        EXPECT_TRUE(m_page->Create(&m_parent));
        return *m_page;
    }

    QComboBox* host() const { return Find<QComboBox>(*m_page, res::kTraceHost); }
    QLineEdit* maxHop() const { return Find<QLineEdit>(*m_page, res::kTraceMaxHop); }
    UpDownControl* spinner() const { return Find<UpDownControl>(*m_page, res::kTraceMaxHopSpin); }
    QCheckBox* resolveIp() const { return Find<QCheckBox>(*m_page, res::kTraceResolveIp); }
    QLabel* status() const { return Find<QLabel>(*m_page, res::kTraceStatus); }
    QLabel* destIp() const { return Find<QLabel>(*m_page, res::kTraceDestIp); }
    QAbstractButton* go() const { return Find<QAbstractButton>(*m_page, res::kTraceGo); }
    QAbstractButton* cancel() const { return Find<QAbstractButton>(*m_page, res::kTraceCancel); }
    QTreeWidget* tree() const { return Find<QTreeWidget>(*m_page, res::kTraceHopTree); }

    void go(const QString& hostText, const QString& maxHopText = {})
    {
        host()->setEditText(hostText);
        if (!maxHopText.isNull()) {
            maxHop()->setText(maxHopText);
        }
        go()->click();
    }
    bool waitFinished() const
    {
        return WaitUntil([this] { return !status()->isHidden() && go()->isEnabled(); });
    }
    void run(const QString& hostText, const QString& maxHopText = {})
    {
        go(hostText, maxHopText);
        ASSERT_TRUE(waitFinished());
    }

    std::vector<bool> m_statusShownAtBox;
    std::unique_ptr<CTraceRoutePage> m_page;
};

TEST_F(TracePageTest, firstStartShowsTheDefaultsAndEachEchoWaitsOneSecond)
{
    open();
    const res::DialogTemplate& layout = res::TraceRoutePageTemplate();
    const DialogUnits units(m_page->font());
    EXPECT_EQ(m_page->size(), QSize(units.toPixelsX(layout.width), units.toPixelsY(layout.height)));
    EXPECT_EQ(maxHop()->text(), "20");
    EXPECT_FALSE(resolveIp()->isChecked());
    EXPECT_EQ(host()->count(), 0);
    EXPECT_EQ(host()->currentText(), "");
    EXPECT_TRUE(status()->isHidden());
    EXPECT_TRUE(cancel()->isHidden());
    EXPECT_EQ(destIp()->text(), "Dest IP: ");
    EXPECT_EQ(tree()->topLevelItemCount(), 0);

    run("target");
    ASSERT_EQ(m_stack.callCount(), 19u) << "Max Hop 20 probes hops 1 to 19";
    EXPECT_EQ(m_stack.calls().front().request.timeout, 1000u);
    EXPECT_EQ(m_stack.calls().back().request.ttl, 19);
}

struct MaxHopCase {
    const char* text;
    std::int32_t member;
    std::size_t probes;
};

class TraceMaxHopTest : public TracePageTest, public ::testing::WithParamInterface<MaxHopCase> {};

TEST_P(TraceMaxHopTest, goTakesTheNumberOrTheLastPosition)
{
    const MaxHopCase& c = GetParam();
    open();
    run("target", c.text);
    EXPECT_EQ(m_page->m_iMaxHopCount, c.member);
    EXPECT_EQ(m_stack.callCount(), c.probes);
    EXPECT_EQ(static_cast<std::size_t>(tree()->topLevelItemCount()), c.probes);
    EXPECT_EQ(destIp()->text(), "Dest IP: 10.0.0.9");
    EXPECT_EQ(status()->text(), "Done");
}

INSTANTIATE_TEST_SUITE_P(Texts, TraceMaxHopTest,
                         ::testing::Values(MaxHopCase{"0", 0, 0}, MaxHopCase{"1", 1, 0},
                                           MaxHopCase{"3", 3, 2}, MaxHopCase{" 4 ", 4, 3},
                                           // not a number in 0..16960: the spinner's last
                                           // position, 20 from the settings
                                           MaxHopCase{"abc", 20, 19}, MaxHopCase{"16961", 20, 19},
                                           MaxHopCase{"-1", 20, 19}, MaxHopCase{"5x", 20, 19}));

struct HistoryCase {
    const char* name;
    std::vector<std::u16string> stored;
    std::vector<QString> typed;
    QStringList expected;
};

class TraceHistoryTest : public TracePageTest, public ::testing::WithParamInterface<HistoryCase> {};

TEST_P(TraceHistoryTest, goRecordsAHostUnlessAnItemBeginsWithIt)
{
    const HistoryCase& c = GetParam();
    for (const std::u16string& entry : c.stored) {
        RecordHost(*m_store, kTraceHistorySection, entry);
    }
    open();
    for (const QString& typed : c.typed) {
        run(typed, "1");
    }
    EXPECT_EQ(Items(*host()), c.expected);
    QStringList stored;
    for (const std::u16string& entry : LoadHostHistory(*makeStore(), kTraceHistorySection)) {
        stored << Q(entry);
    }
    EXPECT_EQ(stored, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TraceHistoryTest,
    ::testing::Values(HistoryCase{"prefix", {u"gateway1"}, {"gate"}, {"gateway1"}},
                      HistoryCase{"prefixOtherCase", {u"gateway1"}, {"GATE"}, {"gateway1"}},
                      HistoryCase{
                          "longerThanAnItem", {u"gate"}, {"gateway1"}, {"gate", "gateway1"}},
                      HistoryCase{"sameTextTwice", {}, {"target", "target"}, {"target"}},
                      HistoryCase{"emptyTextEmptyHistory", {}, {""}, {""}}),
    [](const auto& info) { return std::string(info.param.name); });

struct NameCase {
    const char* name;
    bool resolve;
    QStringList hops;
    std::vector<QString> children; // empty: no child
};

class TraceNameTest : public TracePageTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(TraceNameTest, aHopHasANameChildOnlyWhenANameCame)
{
    const NameCase& c = GetParam();
    m_stack.answerTtl(1, Reply("10.1.0.1", 3));
    m_stack.answerTtl(2, Reply("10.1.0.2", 4));
    // TTL 3 stays silent, right after an answered hop: its record must not show hop 2's time.
    m_stack.answerTtl(4, Reply("10.0.0.9", 5));
    m_resolver.addAddress(Ip("10.1.0.1"), "r\xc3\xa4uter.example");
    m_resolver.addAddress(Ip("10.0.0.9"), "target.example");
    open();
    resolveIp()->setChecked(c.resolve);
    run("target");

    EXPECT_EQ(TopLevelTexts(*tree()), c.hops);
    ASSERT_EQ(static_cast<std::size_t>(tree()->topLevelItemCount()), c.children.size());
    for (int i = 0; i < tree()->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* hop = tree()->topLevelItem(i);
        const QString& child = c.children[static_cast<std::size_t>(i)];
        ASSERT_EQ(hop->childCount(), child.isEmpty() ? 0 : 1) << i;
        if (!child.isEmpty()) {
            EXPECT_EQ(hop->child(0)->text(0), child);
        }
        EXPECT_FALSE(hop->isExpanded());
    }
    EXPECT_TRUE(tree()->selectedItems().isEmpty());
    EXPECT_EQ(m_resolver.addressLookups(), c.resolve ? 3 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TraceNameTest,
    ::testing::Values(
        NameCase{"resolving",
                 true,
                 {"10.1.0.1 [3 ms]", "10.1.0.2 [4 ms]", "No Response [0 ms]", "10.0.0.9 [5 ms]"},
                 {QString::fromUtf8("r\xc3\xa4uter.example"), "", "", "target.example"}},
        NameCase{"notResolving",
                 false,
                 {"10.1.0.1 [3 ms]", "10.1.0.2 [4 ms]", "No Response [0 ms]", "10.0.0.9 [5 ms]"},
                 {"", "", "", ""}}),
    [](const auto& info) { return std::string(info.param.name); });

class TraceCancelTest : public TracePageTest, public ::testing::WithParamInterface<bool> {};

TEST_P(TraceCancelTest, cancelDuringTheLastProbeEndsCancelledWithEveryHop)
{
    const bool byEscape = GetParam();
    Gate lastProbe;
    m_stack.answerNext(Answer(Reply("10.1.0.1", 1)));
    m_stack.answerNext(Answer(Reply("10.1.0.2", 2), [&] { lastProbe.wait(); }));
    open();
    m_parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_parent));
    m_page->show();
    go("target", "3");
    ASSERT_TRUE(WaitUntil([&] { return m_stack.callCount() == 2; }));

    // Running: the inputs are off, the spinner stays usable, Cancel replaces the status line.
    for (int id : {res::kTraceGo, res::kTraceMaxHop, res::kTraceMaxDelay, res::kTraceHost,
                   res::kTraceResolveIp}) {
        EXPECT_FALSE(Find<QWidget>(*m_page, id)->isEnabled()) << id;
    }
    EXPECT_TRUE(spinner()->isEnabled());
    spinner()->stepBy(1);
    EXPECT_EQ(maxHop()->text(), "4");
    EXPECT_TRUE(status()->isHidden());
    EXPECT_FALSE(cancel()->isHidden());
    EXPECT_TRUE(cancel()->isEnabled());

    if (byEscape) {
        tree()->setFocus();
        QTest::keyClick(tree(), Qt::Key_Escape);
    } else {
        cancel()->click();
    }
    EXPECT_TRUE(m_page->m_bCancel);
    EXPECT_FALSE(cancel()->isEnabled());
    EXPECT_FALSE(cancel()->isHidden());
    lastProbe.open();

    ASSERT_TRUE(waitFinished());
    EXPECT_EQ(status()->text(), "Cancelled");
    EXPECT_TRUE(cancel()->isHidden());
    EXPECT_EQ(TopLevelTexts(*tree()), (QStringList{"10.1.0.1 [1 ms]", "10.1.0.2 [2 ms]"}));
    EXPECT_EQ(m_page->m_iMaxHopCount, 3) << "the spinner's change waits for the next GO";
    EXPECT_FALSE(m_page->isHidden());
}

INSTANTIATE_TEST_SUITE_P(ButtonOrEscape, TraceCancelTest, ::testing::Bool());

TEST_F(TracePageTest, escapeWhileIdleOnlySetsTheFlagAndTheNextGoClearsIt)
{
    open();
    m_parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_parent));
    m_page->show();
    host()->setFocus();
    QTest::keyClick(host()->lineEdit(), Qt::Key_Escape);
    EXPECT_TRUE(m_page->m_bCancel);
    EXPECT_FALSE(cancel()->isEnabled());
    EXPECT_TRUE(cancel()->isHidden());
    EXPECT_TRUE(status()->isHidden());
    EXPECT_FALSE(m_page->isHidden());

    run("target", "2");
    EXPECT_EQ(status()->text(), "Done");
    EXPECT_EQ(m_stack.callCount(), 1u);
}

TEST_F(TracePageTest, anUnresolvableHostKeepsThePreviousDestinationAndAnEmptyTree)
{
    open();
    run("target", "2");
    ASSERT_EQ(tree()->topLevelItemCount(), 1);
    const std::size_t probes = m_stack.callCount();

    // A name nobody knows, and a text too long for the host field: never cut into another host.
    for (const QString& unknown : {QString("nowhere"), QString(600, u'a')}) {
        m_boxes.clear();
        m_statusShownAtBox.clear();
        const int lookups = m_resolver.nameLookups();
        run(unknown, "2");
        EXPECT_EQ(m_boxes, std::vector<QString>{"Can't resolve name"});
        EXPECT_EQ(m_statusShownAtBox, std::vector<bool>{false}) << "the run waits for the box";
        EXPECT_EQ(destIp()->text(), "Dest IP: 10.0.0.9");
        EXPECT_EQ(tree()->topLevelItemCount(), 0);
        EXPECT_EQ(status()->text(), "Done");
        EXPECT_EQ(m_stack.callCount(), probes);
        EXPECT_EQ(m_resolver.nameLookups(), lookups + (unknown.size() < 512 ? 1 : 0));
    }
}

TEST_F(TracePageTest, icmpNotPermittedTellsWhatToDoOnceAndEndsTheRun)
{
    m_stack.answerAll(Reply("10.0.0.9", 1)); // never reached
    for (int i = 0; i < 3; ++i) {
        m_stack.answerNext([](const EchoRequest&, void*, std::uint32_t) -> std::uint32_t {
            return kErrorAccessDenied;
        });
    }
    open();
    run("target");
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_TRUE(m_boxes[0].contains("net.ipv4.ping_group_range")) << m_boxes[0].toStdString();
    EXPECT_TRUE(m_boxes[0].contains("cap_net_raw")) << m_boxes[0].toStdString();
    EXPECT_EQ(m_stack.callCount(), 1u);
    EXPECT_EQ(tree()->topLevelItemCount(), 0);
    EXPECT_EQ(status()->text(), "Done");
}

// Makes every new thread ask for more stack than the machine can map, so std::thread fails.
class UnstartableThreads {
public:
    UnstartableThreads()
    {
        pthread_getattr_default_np(&m_saved);
        pthread_attr_t huge;
        pthread_attr_init(&huge);
        pthread_attr_setstacksize(&huge, std::size_t{1} << 46);
        pthread_setattr_default_np(&huge);
        pthread_attr_destroy(&huge);
    }
    ~UnstartableThreads()
    {
        pthread_setattr_default_np(&m_saved);
        pthread_attr_destroy(&m_saved);
    }

private:
    pthread_attr_t m_saved{};
};

TEST_F(TracePageTest, aWorkerThatCantStartLeavesThePageIdleWithDone)
{
    open();
    {
        UnstartableThreads noThreads;
        go("target", "5");
    }
    EXPECT_EQ(status()->text(), "Done");
    EXPECT_FALSE(status()->isHidden());
    EXPECT_TRUE(cancel()->isHidden());
    EXPECT_TRUE(go()->isEnabled());
    EXPECT_TRUE(host()->isEnabled());
    EXPECT_EQ(m_stack.callCount(), 0u);

    run("target", "2"); // and the next GO works
    EXPECT_EQ(m_stack.callCount(), 1u);
}

TEST_F(TracePageTest, settingsAreWrittenAtDestructionAndFoundByTheNextPage)
{
    m_store->WriteSettingInt(kTraceSettingsSection, kHopTimeoutName, -5);
    open();
    resolveIp()->setChecked(true);
    run("target", "7");
    EXPECT_EQ(m_stack.calls().front().request.timeout, 0u) << "a negative timeout waits 0 ms";
    maxHop()->setText("9"); // not taken up by a GO: not saved
    m_page.reset();

    auto store = makeStore();
    EXPECT_EQ(store->GetSettingInt(kTraceSettingsSection, kMaxHopCountName, -99), 7);
    EXPECT_EQ(store->GetSettingInt(kTraceSettingsSection, kHopTimeoutName, -99), 0);
    EXPECT_EQ(store->GetSettingInt(kTraceSettingsSection, kResolveIpName, -99), 1);

    open();
    EXPECT_EQ(maxHop()->text(), "7");
    EXPECT_TRUE(resolveIp()->isChecked());
    EXPECT_EQ(Items(*host()), QStringList{"target"});
    EXPECT_EQ(host()->currentText(), "");
}

TEST_F(TracePageTest, firstExitWritesTheDefaults)
{
    open();
    m_page.reset();
    auto store = makeStore();
    EXPECT_EQ(store->GetSettingInt(kTraceSettingsSection, kMaxHopCountName, -99), 20);
    EXPECT_EQ(store->GetSettingInt(kTraceSettingsSection, kHopTimeoutName, -99), 1000);
    EXPECT_EQ(store->GetSettingInt(kTraceSettingsSection, kResolveIpName, -99), 0);
}

} // namespace
} // namespace hopwise::test
