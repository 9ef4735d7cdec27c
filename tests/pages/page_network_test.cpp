// The pages over real ICMP sockets: to 127.0.0.1, and through a chain of namespaced routers
// with the page's worker started inside the client namespace. Needs root.

#include <QTest>

#include "probe/echo_permission.h"
#include "res/resource_ids.h"
#include "tests/pages/page_test_support.h"
#include "tests/support/net_namespace.h"
#include "trace/trace_route_page.h"

namespace hopwise::test {
namespace {

class PageNetworkTest : public ::testing::Test {
protected:
    PageNetworkTest()
    {
        m_store = std::make_unique<SettingsStore>(
            std::filesystem::path(m_dir.filePath(QStringLiteral("Hopwise.reg")).toStdString()));
        m_store->SetRegistryKey(kCompanyKey);
        m_store->SetAppName(kApplicationName);
        m_page = std::make_unique<CTraceRoutePage>(*m_store);
        m_page->setMessageBox([this](QWidget*, const QString& text) { m_boxes.push_back(text); });
        m_page->Create(&m_parent);
    }

    void trace(const QString& host, const QString& maxHop)
    {
        Find<QComboBox>(*m_page, res::kTraceHost)->setEditText(host);
        Find<QLineEdit>(*m_page, res::kTraceMaxHop)->setText(maxHop);
        Find<QAbstractButton>(*m_page, res::kTraceGo)->click();
        ASSERT_TRUE(
            WaitUntil([&] { return !Find<QLabel>(*m_page, res::kTraceStatus)->isHidden(); }));
    }
    QStringList hops() const
    {
        return TopLevelTexts(*Find<QTreeWidget>(*m_page, res::kTraceHopTree));
    }
    QString status() const { return Find<QLabel>(*m_page, res::kTraceStatus)->text(); }

    QTemporaryDir m_dir;
    std::unique_ptr<SettingsStore> m_store;
    QWidget m_parent;
    std::vector<QString> m_boxes;
    std::unique_ptr<CTraceRoutePage> m_page;
};

TEST_F(PageNetworkTest, traceToLoopbackShowsOneHop)
{
    if (CheckEchoPermission() == IcmpSocketKind::None) {
        GTEST_SKIP() << "this user may open neither kind of ICMP socket";
    }
    m_page->m_iHopTimeout = 1000;
    trace("127.0.0.1", "20");
    EXPECT_EQ(hops(), QStringList{"127.0.0.1 [0 ms]"});
    EXPECT_EQ(status(), "Done");
    EXPECT_EQ(Find<QLabel>(*m_page, res::kTraceDestIp)->text(), "Dest IP: 127.0.0.1");
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(PageNetworkTest, traceThroughARouterChainShowsTheRoutersInOrder)
{
    const std::string reason = NetNamespaceSkipReason();
    if (!reason.empty()) {
        GTEST_SKIP() << reason;
    }
    RouterChain chain(3, 213);
    m_page->m_iHopTimeout = 1000;
    {
        // The worker thread starts from this thread and so sends from the client namespace.
        EnterNamespace inside(chain.client());
        trace(QString::fromStdString(chain.targetAddress()), "10");
    }
    QStringList expected;
    for (int i = 0; i < chain.routers(); ++i) {
        expected << QString::fromStdString(chain.routerAddress(i));
    }
    expected << QString::fromStdString(chain.targetAddress());
    const QStringList shown = hops();
    ASSERT_EQ(shown.size(), expected.size()) << shown.join(" | ").toStdString();
    for (qsizetype i = 0; i < shown.size(); ++i) {
        EXPECT_TRUE(shown[i].startsWith(expected[i] + " [")) << shown[i].toStdString();
        EXPECT_TRUE(shown[i].endsWith(" ms]")) << shown[i].toStdString();
    }
    EXPECT_EQ(status(), "Done");
}

} // namespace
} // namespace hopwise::test
