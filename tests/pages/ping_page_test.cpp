// The ping page driven through its controls, against the scripted echo stack and the table
// resolver.

#include <QHeaderView>
#include <QTest>

#include "widgets/up_down_control.h"
#include "ping/ping_page.h"
#include "res/resource_ids.h"
#include "tests/pages/page_test_support.h"

namespace hopwise::test {
namespace {

class PingPageTest : public PageTest {
protected:
    PingPageTest() { m_resolver.addName("target", {Ip("10.0.0.9")}); }

    CPingPage& open()
    {
        m_page = std::make_unique<CPingPage>(*m_store);
        m_page->setMessageBox([this](QWidget*, const QString& text) { m_boxes.push_back(text); });
        EXPECT_TRUE(m_page->Create(&m_parent));
        return *m_page;
    }

    QComboBox* host() const { return Find<QComboBox>(*m_page, res::kPingHost); }
    QLineEdit* maxHop() const { return Find<QLineEdit>(*m_page, res::kPingMaxHop); }
    QLineEdit* numTrials() const { return Find<QLineEdit>(*m_page, res::kPingNumTrials); }
    QLabel* status() const { return Find<QLabel>(*m_page, res::kPingStatus); }
    QLabel* destIp() const { return Find<QLabel>(*m_page, res::kPingDestIp); }
    QAbstractButton* go() const { return Find<QAbstractButton>(*m_page, res::kPingGo); }
    QAbstractButton* cancel() const { return Find<QAbstractButton>(*m_page, res::kPingCancel); }
    QTreeWidget* list() const { return Find<QTreeWidget>(*m_page, res::kPingReplyList); }

    void go(const QString& hostText, const QString& trials)
    {
        host()->setEditText(hostText);
        numTrials()->setText(trials);
        go()->click();
    }
    bool waitFinished() const
    {
        return WaitUntil([this] { return !status()->isHidden() && go()->isEnabled(); });
    }
    void run(const QString& hostText, const QString& trials)
    {
        go(hostText, trials);
        ASSERT_TRUE(waitFinished());
    }

    std::unique_ptr<CPingPage> m_page;
};

TEST_F(PingPageTest, firstStartShowsTheDefaults)
{
    open();
    EXPECT_EQ(maxHop()->text(), "20");
    EXPECT_EQ(numTrials()->text(), "inf");
    EXPECT_EQ(host()->count(), 0);
    EXPECT_EQ(host()->currentText(), "");
    EXPECT_EQ(destIp()->text(), "Dest IP: ");
    EXPECT_TRUE(status()->isHidden());
    EXPECT_TRUE(cancel()->isHidden());
    EXPECT_EQ(list()->topLevelItemCount(), 0);
    ASSERT_EQ(list()->columnCount(), 3);
    const QTreeWidgetItem* header = list()->headerItem();
    EXPECT_EQ((QStringList{header->text(0), header->text(1), header->text(2)}),
              (QStringList{"IP", "Time", "TTL"}));
    EXPECT_EQ(list()->header()->sectionSize(0), 110);
    EXPECT_EQ(list()->header()->sectionSize(1), 50);
    EXPECT_EQ(list()->header()->sectionSize(2), 50);
    EXPECT_EQ(m_page->m_iHopTimeout, 1000);
    EXPECT_EQ(m_page->m_iMaxItemsInList, 50);
}

struct TrialsCase {
    const char* typed;
    std::int32_t member;
    const char* shown;
};

class NumTrialsTest : public ::testing::TestWithParam<TrialsCase> {};

TEST_P(NumTrialsTest, parsesAsGoReadsIt)
{
    const TrialsCase& c = GetParam();
    EXPECT_EQ(ParseNumTrials(c.typed), c.member);
    EXPECT_EQ(FormatNumTrials(ParseNumTrials(c.typed)), c.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, NumTrialsTest,
    ::testing::Values(TrialsCase{"INF", -1, "inf"}, TrialsCase{"Infinity", -1, "inf"},
                      TrialsCase{"-1", -1, "inf"}, TrialsCase{"5x", 5, "5"},
                      TrialsCase{"abc", 0, "0"}, TrialsCase{"  12", 12, "12"},
                      TrialsCase{"-7", -7, "-7"}, TrialsCase{"infinite", 0, "0"},
                      TrialsCase{"99999999999", 2147483647, "2147483647"},
                      TrialsCase{"-99999999999", -2147483647 - 1, "-2147483648"},
                      TrialsCase{"", 0, "0"}));

class PingTrialsRunTest : public PingPageTest, public ::testing::WithParamInterface<TrialsCase> {};

TEST_P(PingTrialsRunTest, goShowsTheTrialsItTookAndRunsThem)
{
    const TrialsCase& c = GetParam();
    m_stack.answerAll(Reply("10.0.0.9", 1));
    open();
    run("target", c.typed);
    EXPECT_EQ(numTrials()->text(), c.shown);
    EXPECT_EQ(m_page->m_iNumTrials, c.member);
    EXPECT_EQ(list()->topLevelItemCount(), std::max(c.member, 1));
    EXPECT_EQ(status()->text(), "Done");
}

INSTANTIATE_TEST_SUITE_P(Texts, PingTrialsRunTest,
                         ::testing::Values(TrialsCase{"5x", 5, "5"}, TrialsCase{"abc", 0, "0"},
                                           TrialsCase{"3", 3, "3"}));

TEST_F(PingPageTest, infiniteTrialsRunUntilCancelled)
{
    m_stack.answerAll(Reply("10.0.0.9", 1));
    open();
    go("target", "Infinity");
    EXPECT_EQ(numTrials()->text(), "inf");
    ASSERT_TRUE(WaitUntil([&] { return list()->topLevelItemCount() >= 3; }));
    for (int id : {res::kPingGo, res::kPingMaxHop, res::kPingNumTrials, res::kPingHost}) {
        EXPECT_FALSE(Find<QWidget>(*m_page, id)->isEnabled()) << id;
    }
    EXPECT_TRUE(Find<QWidget>(*m_page, res::kPingMaxHopSpin)->isEnabled());
    cancel()->click();
    EXPECT_FALSE(cancel()->isEnabled());
    ASSERT_TRUE(waitFinished());
    EXPECT_EQ(status()->text(), "Cancelled");
    EXPECT_TRUE(cancel()->isHidden());
}

TEST_F(PingPageTest, fiftyRowsKeptNewestOnTop)
{
    for (std::uint32_t i = 1; i <= 60; ++i) {
        m_stack.answerNext(Answer(Reply("10.0.0.9", i, static_cast<std::uint8_t>(i))));
    }
    open();
    run("target", "60");
    ASSERT_EQ(list()->topLevelItemCount(), 50);
    EXPECT_EQ(list()->topLevelItem(0)->text(1), "60");
    EXPECT_EQ(list()->topLevelItem(0)->text(2), "60");
    EXPECT_EQ(list()->topLevelItem(49)->text(1), "11");
    EXPECT_EQ(list()->topLevelItem(0)->text(0), "10.0.0.9");
}

class RowLimitTest : public PingPageTest, public ::testing::WithParamInterface<std::int32_t> {};

TEST_P(RowLimitTest, aLimitOfZeroOrBelowKeepsTheListEmpty)
{
    m_store->WriteSettingInt(kPingSettingsSection, kMaxItemsInListName, GetParam());
    m_stack.answerAll(Reply("10.0.0.9", 1));
    open();
    run("target", "3");
    EXPECT_EQ(m_stack.callCount(), 3u);
    EXPECT_EQ(list()->topLevelItemCount(), 0);
    EXPECT_EQ(status()->text(), "Done");
}

INSTANTIATE_TEST_SUITE_P(Limits, RowLimitTest, ::testing::Values(0, -1, -2147483647 - 1));

TEST_F(PingPageTest, aNoResponseRowShowsNothingOfTheReplyBefore)
{
    m_stack.answerNext(Answer(Reply("10.0.0.9", 33, 61)));
    open();
    run("target", "2"); // the second trial is unanswered
    ASSERT_EQ(list()->topLevelItemCount(), 2);
    const QTreeWidgetItem* row = list()->topLevelItem(0);
    EXPECT_EQ((QStringList{row->text(0), row->text(1), row->text(2)}),
              (QStringList{"No Response", "0", "0"}));
    row = list()->topLevelItem(1);
    EXPECT_EQ((QStringList{row->text(0), row->text(1), row->text(2)}),
              (QStringList{"10.0.0.9", "33", "61"}));
}

TEST_F(PingPageTest, maxHopIsTheTimeToLiveOfEveryRequest)
{
    open();
    maxHop()->setText("300");
    run("target", "2");
    EXPECT_EQ(m_page->m_iMaxHopCount, 300);
    ASSERT_EQ(m_stack.callCount(), 2u);
    EXPECT_EQ(m_stack.calls()[1].request.ttl, 300 % 256);
}

TEST_F(PingPageTest, anUnresolvableHostKeepsThePreviousDestinationAndAnEmptyList)
{
    m_stack.answerAll(Reply("10.0.0.9", 1));
    open();
    run("target", "2");
    run("nowhere", "2");
    EXPECT_EQ(m_boxes, std::vector<QString>{"Can't resolve name"});
    EXPECT_EQ(destIp()->text(), "Dest IP: 10.0.0.9");
    EXPECT_EQ(list()->topLevelItemCount(), 0);
    EXPECT_EQ(status()->text(), "Done");
}

TEST_F(PingPageTest, escapeWhileIdleChangesNothingVisible)
{
    open();
    m_parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_parent));
    m_page->show();
    numTrials()->setFocus();
    QTest::keyClick(numTrials(), Qt::Key_Escape);
    EXPECT_TRUE(m_page->m_bCancel);
    EXPECT_TRUE(cancel()->isHidden());
    EXPECT_TRUE(status()->isHidden());
    EXPECT_FALSE(m_page->isHidden());
    run("target", "1");
    EXPECT_EQ(status()->text(), "Done");
}

TEST_F(PingPageTest, settingsAreWrittenAtDestructionAndFoundByTheNextPage)
{
    m_store->WriteSettingInt(kPingSettingsSection, kHopTimeoutName, -3);
    open();
    maxHop()->setText("9");
    run("target", "2");
    EXPECT_EQ(m_stack.calls().front().request.timeout, 0u) << "a negative timeout waits 0 ms";
    numTrials()->setText("4"); // not taken up by a GO: not saved
    m_page.reset();

    auto store = makeStore();
    EXPECT_EQ(store->GetSettingInt(kPingSettingsSection, kMaxHopCountName, -99), 9);
    EXPECT_EQ(store->GetSettingInt(kPingSettingsSection, kNumTrialsName, -99), 2);
    EXPECT_EQ(store->GetSettingInt(kPingSettingsSection, kHopTimeoutName, -99), 0);
    EXPECT_EQ(store->GetSettingInt(kPingSettingsSection, kMaxItemsInListName, -99), 50);

    open();
    EXPECT_EQ(maxHop()->text(), "9");
    EXPECT_EQ(numTrials()->text(), "2");
    EXPECT_EQ(Items(*host()), QStringList{"target"});
}

TEST_F(PingPageTest, firstExitWritesTheDefaults)
{
    open();
    m_page.reset();
    auto store = makeStore();
    EXPECT_EQ(store->GetSettingInt(kPingSettingsSection, kMaxHopCountName, -99), 20);
    EXPECT_EQ(store->GetSettingInt(kPingSettingsSection, kNumTrialsName, -99), -1);
    EXPECT_EQ(store->GetSettingInt(kPingSettingsSection, kHopTimeoutName, -99), 1000);
    EXPECT_EQ(store->GetSettingInt(kPingSettingsSection, kMaxItemsInListName, -99), 50);
}

} // namespace
} // namespace hopwise::test
